// The raw mesh arrays: ranks, reservation and widening of stored floats.
#include <tvx/geometry/CtvxPolyhedronData.h>

#include <gtest/gtest.h>

namespace {

TEST(PolyhedronData, RanksCountFromZeroIndependently)
{
    boost::shared_ptr<CtvxPolyhedronData> d = CtvxPolyhedronData::create();
    EXPECT_EQ(d->countPoints(), 0u);
    EXPECT_EQ(d->countTriangles(), 0u);
    EXPECT_EQ(d->className(), "CtvxPolyhedronData");
    unsigned int r = 99;
    d->addTriangle(5, 6, 7, r); // may name points that do not exist yet
    EXPECT_EQ(r, 0u);
    d->addPoint(1, 2, 3, r);
    EXPECT_EQ(r, 0u);
    d->addPoint(CqarPoint3(4, 5, 6), r);
    EXPECT_EQ(r, 1u);
    d->addTriangle(0, 1, 0, r);
    EXPECT_EQ(r, 1u);
    EXPECT_EQ(d->countPoints(), 2u);
    EXPECT_EQ(d->countTriangles(), 2u);
    unsigned a, b, c;
    d->getTriangle(0, a, b, c);
    EXPECT_EQ(a, 5u);
    EXPECT_EQ(b, 6u);
    EXPECT_EQ(c, 7u);
    CqarPoint3 pts[3];
    d->getTriangle(1, pts);
    EXPECT_EQ(pts[0][0], 1.0);
    EXPECT_EQ(pts[1][2], 6.0);
    EXPECT_EQ(pts[2][1], 2.0);
}

TEST(PolyhedronData, StoresNearestFloatsAndReturnsThemWidened)
{
    boost::shared_ptr<CtvxPolyhedronData> d = CtvxPolyhedronData::create();
    unsigned int r;
    d->addPoint(CqarPoint3(0.1, 0.2, 0.3), r);
    CqarPoint3 p;
    d->getPoint(0, p);
    EXPECT_EQ(p[0], static_cast<double>(0.1f));
    EXPECT_NE(p[0], 0.1);
    EXPECT_EQ(p[2], static_cast<double>(0.3f));
    float x, y, z;
    d->getPoint(0, x, y, z);
    EXPECT_EQ(y, 0.2f);
}

TEST(PolyhedronData, ReserveMeansNoReallocationAndNoCountChange)
{
    boost::shared_ptr<CtvxPolyhedronData> d = CtvxPolyhedronData::create();
    d->reserveNPoints(1000);
    d->reserveNTriangles(500);
    EXPECT_EQ(d->countPoints(), 0u);
    EXPECT_EQ(d->countTriangles(), 0u);
    unsigned int r;
    d->addPoint(0, 0, 0, r);
    d->addTriangle(0, 0, 0, r);
    CtvxPoint const* const firstPoints = d->points();
    CtvxTriangle const* const firstTriangles = d->triangles();
    for (unsigned i = 1; i < 1000; ++i) {
        d->addPoint(float(i), 0, 0, r);
        ASSERT_EQ(r, i);
    }
    for (unsigned i = 1; i < 500; ++i)
        d->addTriangle(i, i, i, r);
    EXPECT_EQ(d->points(), firstPoints);
    EXPECT_EQ(d->triangles(), firstTriangles);
    EXPECT_EQ(d->countPoints(), 1000u);
    // A smaller request than the capacity changes nothing.
    d->reserveNPoints(10);
    EXPECT_EQ(d->points(), firstPoints);
    EXPECT_EQ(d->countPoints(), 1000u);
}

TEST(PolyhedronData, OptimizeMemoryKeepsEverything)
{
    boost::shared_ptr<CtvxPolyhedronData> d = CtvxPolyhedronData::create();
    d->reserveNPoints(4096);
    unsigned int r;
    for (int i = 0; i < 100; ++i)
        d->addPoint(float(i) * 0.5f, float(-i), 1e-3f * float(i), r);
    for (unsigned i = 0; i + 2 < 100; ++i)
        d->addTriangle(i, i + 1, i + 2, r);
    d->optimizeMemory();
    ASSERT_EQ(d->countPoints(), 100u);
    ASSERT_EQ(d->countTriangles(), 98u);
    for (int i = 0; i < 100; ++i) {
        float x, y, z;
        d->getPoint(unsigned(i), x, y, z);
        EXPECT_EQ(x, float(i) * 0.5f);
        EXPECT_EQ(y, float(-i));
        EXPECT_EQ(z, 1e-3f * float(i));
    }
    for (unsigned i = 0; i + 2 < 100; ++i) {
        unsigned a, b, c;
        d->getTriangle(i, a, b, c);
        EXPECT_EQ(a, i);
        EXPECT_EQ(c, i + 2);
    }
}

} // namespace
