// Polyhedra: shared meshes seen through points transforms, the direct read
// path, collision entities, geometry changes and the set's enclosing box.
#include <tests/support/Meshes.h>
#include <tests/support/Random.h>
#include <tests/support/SceneFixtures.h>
#include <tests/support/SceneProbes.h>

#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/geometry/internal/CtvxDirectMesh.h>
#include <tvx/geometry/internal/CtvxTreeShelf.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>

#include <qar/CqarLogManager.h>

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using tvxtest::rotationZMat;
using tvxtest::translationMat;

boost::shared_ptr<CtvxProgressDelegate> noDelegate;

TEST(Polyhedron, FreshAndSharedData)
{
    boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create();
    EXPECT_EQ(0u, p->countPoints());
    EXPECT_EQ(0u, p->countTriangles());
    EXPECT_TRUE(p->polyData());
    EXPECT_EQ("CtvxPolyhedron", p->className());
    boost::shared_ptr<CtvxPolyhedronData> d = p->polyData();
    boost::shared_ptr<CtvxPolyhedron> q = CtvxPolyhedron::create(d);
    unsigned int rank = 9;
    q->addPoint(1.0f, 2.0f, 3.0f, rank);
    EXPECT_EQ(0u, rank);
    EXPECT_EQ(1u, p->countPoints());
    boost::shared_ptr<CtvxPolyhedron> other = CtvxPolyhedron::create();
    EXPECT_NE(other->polyData(), p->polyData());
}

TEST(Polyhedron, WithoutDataItIsEmpty)
{
    boost::shared_ptr<CtvxPolyhedronData> none;
    boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create(none);
    unsigned int rank = 3;
    p->addPoint(1.0f, 2.0f, 3.0f, rank);
    p->addTriangle(0, 0, 0, rank);
    EXPECT_EQ(3u, rank);
    EXPECT_EQ(0u, p->countPoints());
    EXPECT_EQ(0u, p->countTriangles());
    p->makeCollisionEntity(noDelegate);
    EXPECT_TRUE(p->areCollisionEntitiesMade());
    float h[3];
    EXPECT_EQ(-1, p->getObbHalfLengths(h[0], h[1], h[2]));
}

TEST(Polyhedron, PointsTransformOnReadAndWrite)
{
    boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create();
    unsigned int rank;
    p->addPoint(0.0f, 0.0f, 0.0f, rank);
    p->movePoints(translationMat(1, 0, 0));
    CqarPoint3 pt;
    p->getPoint(0, pt);
    EXPECT_EQ(1.0, pt[0]);
    p->addPoint(1.0f, 0.0f, 0.0f, rank);
    EXPECT_EQ(1u, rank);
    float x, y, z;
    p->polyData()->getPoint(1, x, y, z);
    EXPECT_EQ(0.0f, x);
    p->getPoint(1, x, y, z);
    EXPECT_EQ(1.0f, x);
    // Another polyhedron on the same data sees its own coordinates.
    boost::shared_ptr<CtvxPolyhedronData> d = p->polyData();
    boost::shared_ptr<CtvxPolyhedron> q = CtvxPolyhedron::create(d);
    q->getPoint(1, pt);
    EXPECT_EQ(0.0, pt[0]);
    q->movePoints(rotationZMat(M_PI / 2));
    p->addPoint(CqarPoint3(1.0, 5.0, 0.0), rank);
    q->getPoint(rank, pt);
    EXPECT_NEAR(-5.0, pt[0], 1e-12);
    EXPECT_NEAR(0.0, pt[1], 1e-12);
}

// Reading through the identity skips the matrix product; the answer must be
// the product's to the bit, signed zeros included. So must the direct float
// read that the tree builder and the tree descent use (CtvxDirectMesh), which
// only exists under a points transform that acts as the identity.
TEST(Polyhedron, IdentityReadsAreBitIdenticalToTheProduct)
{
    tvxtest::Random rng(5);
    boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create();
    unsigned int rank;
    float const awkward[] = {0.0f, -0.0f, 1e-30f, -1e-38f, 3.0e38f, -7.5f};
    for (float a : awkward)
        for (float b : awkward)
            p->addPoint(a, b, -a, rank);
    // A stored -0 (added to the data as is: through the polyhedron it would
    // pass the identity's +0 translation and lose its sign).
    p->polyData()->addPoint(-0.0f, -1.0f, -1.0f, rank);
    for (int i = 0; i < 200; ++i)
        p->addPoint(rng.uniformf(-100, 100), rng.uniformf(-1e-3f, 1e-3f), rng.uniformf(-1e6f, 1e6f), rank);
    for (unsigned int i = 0; i + 2 < p->countPoints(); i += 3)
        p->addTriangle(i, i + 1, i + 2, rank);
    CqarMat4 m;
    auto check = [&](char const* when) {
        CtvxDirectMesh const direct = CtvxDirectMesh::of(*p);
        EXPECT_EQ(direct.valid(), CtvxDirectMesh::actsAsIdentityOnPoints(m)) << when;
        for (unsigned int t = 0; t < p->countTriangles(); ++t) {
            CqarPoint3 got[3];
            p->getTriangle(t, got);
            float read[3][3];
            if (direct.valid())
                direct.triangle(t, read);
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < 3; ++j) {
                    float const narrowed = static_cast<float>(got[k][j]);
                    ASSERT_TRUE(!direct.valid() || std::memcmp(&narrowed, &read[k][j], sizeof(float)) == 0)
                        << when << ": direct read of triangle " << t << " corner " << k << " coordinate " << j
                        << ": " << read[k][j] << " vs " << narrowed;
                }
            unsigned int a, b, c;
            p->getTriangle(t, a, b, c);
            unsigned int const idx[3] = {a, b, c};
            for (int k = 0; k < 3; ++k) {
                CqarPoint3 stored;
                p->polyData()->getPoint(idx[k], stored);
                CqarPoint3 const want = m * stored;
                for (int j = 0; j < 3; ++j)
                    ASSERT_EQ(0, std::memcmp(&want[j], &got[k][j], sizeof(double)))
                        << when << ": triangle " << t << " corner " << k << " coordinate " << j << ": "
                        << want[j] << " vs " << got[k][j];
            }
        }
    };
    check("fresh");
    // Back to an exact identity after a move and its undoing.
    p->movePoints(translationMat(2, 0, 0));
    p->movePoints(translationMat(-2, 0, 0));
    check("moved back");
    // Through any other transform the inline product must agree as well.
    for (int i = 0; i < 5; ++i) {
        tvxtest::Affine const a = tvxtest::randomRigid(rng, 50.0);
        CqarMat4 step;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                step(r, c) = a.r[r][c] * 1.5;
            step(r, 3) = a.t[r];
        }
        p->movePoints(step);
        m = step * m;
        check("moved");
        CqarMat4 pt;
        p->getPointsTransform(pt);
        m = pt; // the library's own accumulation, to compare reads only
        check("moved, same matrix");
    }
}

// The direct read exists when the points transform acts as the identity on
// points: when its product gives every coordinate of every point exactly as
// the direct read does (the stored float plus +0). Checked against the
// utility library's own point product on awkward coordinates, for matrices
// that do and do not qualify. A -0 translation does not: the product keeps
// the sign of a zero that all other terms leave negative.
TEST(Polyhedron, DirectReadExactlyWhereTheProductIsTheIdentity)
{
    float const awkward[] = {0.0f, -0.0f, 1e-30f, -1e-38f, 3.0e38f, -7.5f, -1.0f};
    auto leavesPointsAlone = [&](CqarMat4 const& m) {
        for (float x : awkward)
            for (float y : awkward)
                for (float z : awkward) {
                    CqarPoint3 const got = m * CqarPoint3(x, y, z);
                    double const want[3] = {double(x) + 0.0, double(y) + 0.0, double(z) + 0.0};
                    for (int j = 0; j < 3; ++j)
                        if (std::memcmp(&got[j], &want[j], sizeof(double)) != 0)
                            return false;
                }
        return true;
    };
    struct Case {
        char const* name;
        int row, column;
        double value;
    };
    Case const cases[] = {{"identity", 0, 0, 1.0},          {"-0 translation", 1, 3, -0.0},
                          {"-0 off the diagonal", 2, 0, -0.0}, {"tiny translation", 0, 3, 1e-300},
                          {"diagonal off 1", 2, 2, 1.0 + 1e-15}, {"tiny shear", 0, 1, 1e-300},
                          {"bottom row", 3, 0, 5.0}};
    int qualifying = 0;
    for (Case const& c : cases) {
        CqarMat4 m;
        m(c.row, c.column) = c.value;
        bool const alone = leavesPointsAlone(m);
        qualifying += alone;
        EXPECT_EQ(CtvxDirectMesh::actsAsIdentityOnPoints(m), alone) << c.name;
    }
    EXPECT_EQ(qualifying, 3); // the identity, a -0 off the diagonal, the bottom row
}

TEST(Polyhedron, TriangleInfoAndClassNames)
{
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 1, 1));
    boost::shared_ptr<CtvxVirtualPolyhedron> who;
    int local = -1;
    p->getTriangleInfo(7, who, local);
    EXPECT_EQ(p, who);
    EXPECT_EQ(7, local);
    EXPECT_EQ(p, p->obj());
    EXPECT_EQ(std::string("CtvxPolyhedron"), p->className());
    EXPECT_EQ(std::string("CtvxAssembly"), CtvxAssembly::create()->className());
    EXPECT_EQ(std::string("CtvxVirtualPolyhedron"), p->CtvxVirtualPolyhedron::className());
}

TEST(PolyhedronEntity, BuildsOnceReportsEveryTime)
{
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 1, 1));
    boost::shared_ptr<tvxtest::RecordingDelegate> rec = tvxtest::RecordingDelegate::create();
    boost::shared_ptr<CtvxProgressDelegate> d = rec;
    p->makeCollisionEntity(p, d); // itself as the exception: nothing
    EXPECT_FALSE(p->areCollisionEntitiesMade());
    EXPECT_TRUE(rec->events.empty());
    boost::shared_ptr<CtvxObject> other = CtvxAssembly::create();
    p->makeCollisionEntity(other, d);
    EXPECT_TRUE(p->areCollisionEntitiesMade());
    ASSERT_EQ(12u, rec->events.size()); // 11 nodes, then the entity
    EXPECT_EQ("entity 12", rec->events.back());
    rec->events.clear();
    p->makeCollisionEntity(d);
    EXPECT_EQ(std::vector<std::string>{"entity 12"}, rec->events);
    p->removeCollisionEntities();
    EXPECT_FALSE(p->areCollisionEntitiesMade());
}

// A triangle may name points added after it, but no tree is built while one
// names a point past the last: the build would read outside the points. The
// refusal is logged; once the points exist the tree builds. The same holds
// for a regrouped assembly's group.
TEST(PolyhedronEntity, NoTreeWhileATriangleNamesAMissingPoint)
{
    CqarLogManager::clear();
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 1, 1));
    unsigned int rank = 0;
    p->addTriangle(0, 1, 100000, rank);
    boost::shared_ptr<CtvxProgressDelegate> none;
    p->makeCollisionEntity(none);
    EXPECT_FALSE(p->areCollisionEntitiesMade());
    CtvxObject::EObbState st = CtvxObject::OBB_COMPUTED;
    CqarMat4 pos;
    float x, y, z;
    p->polyComputeObb(st, pos, x, y, z);
    EXPECT_EQ(CtvxObject::OBB_NONE, st);
    std::vector<std::string> const log = CqarLogManager::messages();
    ASSERT_FALSE(log.empty());
    EXPECT_NE(std::string::npos, log[0].find("triangle 12 names point 100000, past the last of 8 points")) << log[0];

    boost::shared_ptr<CtvxPolyhedron> later = tvxtest::makePolyhedron(tvxtest::makeBox(1, 1, 1));
    later->addTriangle(0, 8, 9, rank);
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    ASSERT_EQ(0, a->attach(later, -1));
    a->makeCollisionEntity(none);
    ASSERT_TRUE(a->regroupedPoly());
    EXPECT_FALSE(a->regroupedPoly()->isBVConstructed());
    a->removeCollisionEntities();
    later->addPoint(2.0f, 0.0f, 0.0f, rank);
    later->addPoint(2.0f, 1.0f, 0.0f, rank);
    a->makeCollisionEntity(none);
    ASSERT_TRUE(a->regroupedPoly());
    EXPECT_TRUE(a->regroupedPoly()->isBVConstructed());
    CqarLogManager::clear();
}

// The tree of an empty set names no triangle: one added after the build,
// here naming a point that does not exist, is read by no query.
TEST(PolyhedronEntity, TreeOfAnEmptySetNamesNoTriangle)
{
    boost::shared_ptr<CtvxPolyhedron> empty = CtvxPolyhedron::create();
    unsigned int rank = 0;
    for (int i = 0; i < 3; ++i)
        empty->addPoint(0.1f * i, 0.2f * (i % 2), 0.0f, rank);
    boost::shared_ptr<CtvxProgressDelegate> none;
    empty->makeCollisionEntity(none);
    empty->addTriangle(0, 1, 4000000000u, rank);
    boost::shared_ptr<CtvxPolyhedron> box = tvxtest::makeBoxEntity(1, 1, 1);
    for (int type = 0; type < 4; ++type) {
        boost::shared_ptr<CtvxAnalysis> a = tvxtest::analysisOf(
            tvxtest::listOf({empty}), tvxtest::listOf({box}), static_cast<CtvxAnalysis::EAnalysisType>(type));
        a->compute();
        EXPECT_EQ(0u, a->countCollisions()) << type;
        EXPECT_EQ(0u, a->countDistances()) << type;
    }
}

TEST(PolyhedronGeometry, ScaleAndTransformNeedATree)
{
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 1, 1));
    CqarPoint3 c(1, 1, 1);
    CqarPoint3 before, after;
    p->getPoint(0, before);
    EXPECT_EQ(-1, p->scale(c, 0.5));
    EXPECT_EQ(-1, p->transform(translationMat(1, 0, 0)));
    p->getPoint(0, after);
    EXPECT_EQ(before[0], after[0]);

    p->makeCollisionEntity(noDelegate);
    float h0[3];
    ASSERT_EQ(0, p->getObbHalfLengths(h0[0], h0[1], h0[2]));
    EXPECT_EQ(0, p->scale(c, 0.5));
    p->getPoint(0, after);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(c[k] + 0.5 * (before[k] - c[k]), after[k], 1e-12);
    EXPECT_TRUE(p->isBVConstructed());
    // The box follows at once: the same shape at half the size.
    float h[3];
    ASSERT_EQ(0, p->getObbHalfLengths(h[0], h[1], h[2]));
    EXPECT_NEAR(0.5f * (h0[0] + h0[1] + h0[2]), h[0] + h[1] + h[2], 0.02f);
}

TEST(PolyhedronGeometry, TransformIsConjugatedByThePlacement)
{
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 2, 3));
    CqarMat4 const a = translationMat(5, 0, 0) * rotationZMat(0.9);
    p->relativePosition(a);
    p->makeCollisionEntity(noDelegate);
    CqarMat4 const t = translationMat(0, 1, 0) * rotationZMat(-0.2);
    CqarPoint3 before;
    p->getPoint(3, before);
    ASSERT_EQ(0, p->transform(t));
    CqarPoint3 after;
    p->getPoint(3, after);
    // In world terms the point moved by t.
    CqarPoint3 const want = t * (a * before);
    CqarPoint3 const got = a * after;
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(want[k], got[k], 1e-12);
}

TEST(PolyhedronBox, ToleranceThickensTheSetsBox)
{
    boost::shared_ptr<tvxtest::ProbePolyhedron> p =
        tvxtest::ProbePolyhedron::create(tvxtest::makePolyData(tvxtest::makeBox(1, 2, 3)));
    CtvxObject::EObbState st = CtvxObject::OBB_NONE;
    CqarMat4 pos;
    float h0[3], h1[3];
    p->polyComputeObb(st, pos, h0[0], h0[1], h0[2]);
    EXPECT_EQ(CtvxObject::OBB_COMPUTED, st);
    EXPECT_TRUE(p->isBVConstructed()); // built on demand
    p->setTolerance(0.5);
    p->polyComputeObb(st, pos, h1[0], h1[1], h1[2]);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(h0[k] + 0.5f, h1[k]);
    // The set's box holds every vertex, and the enclosing box every vertex
    // with a margin of the tolerance.
    for (unsigned int i = 0; i < p->countPoints(); ++i) {
        CqarPoint3 v;
        p->getPoint(i, v);
        CqarPoint3 const q = pos.inverse() * v;
        for (int k = 0; k < 3; ++k) {
            EXPECT_LE(std::fabs(q[k]), h0[k] + 1e-5) << "vertex " << i;
            EXPECT_LE(std::fabs(q[k]) + 0.5, h1[k] + 1e-5) << "vertex " << i;
        }
    }
    float hx, hy, hz;
    ASSERT_EQ(0, p->getObbHalfLengths(hx, hy, hz));
    EXPECT_EQ(h1[0], hx);
}

TEST(PolyhedronBox, DeactivatedOrEmptySetsHaveNone)
{
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 2, 3));
    p->activation(false);
    CtvxObject::EObbState st = CtvxObject::OBB_COMPUTED;
    CqarMat4 pos;
    float x = 7, y = 7, z = 7;
    p->polyComputeObb(st, pos, x, y, z);
    EXPECT_EQ(CtvxObject::OBB_NONE, st);
    EXPECT_FALSE(p->isBVConstructed());
    EXPECT_EQ(7.0f, x);
    boost::shared_ptr<CtvxPolyhedron> e = CtvxPolyhedron::create();
    st = CtvxObject::OBB_COMPUTED;
    e->polyComputeObb(st, pos, x, y, z);
    EXPECT_EQ(CtvxObject::OBB_NONE, st);
    EXPECT_TRUE(e->isBVConstructed());
}

TEST(PolyhedronBox, LockedLeafBoxIsInItsOwnFrame)
{
    // Inside a regrouped assembly a leaf's points are in the assembly's
    // frame; its enclosing box must still be in the leaf's own.
    boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
    boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(tvxtest::makeBox(1, 1, 1));
    a->attach(p, -1);
    p->relativePosition(translationMat(10, 0, 0));
    CqarMat4 free;
    ASSERT_EQ(0, p->getObbRelativePosition(free));
    p->removeCollisionEntities();
    a->makeCollisionEntity(noDelegate);
    p->setTolerance(0.0); // stale again
    CqarMat4 locked;
    ASSERT_EQ(0, p->getObbRelativePosition(locked));
    EXPECT_NEAR(free(0, 3), locked(0, 3), 1e-6);
    // The triangle set's frame is where its points are: the assembly's.
    CqarMat4 at, aa;
    p->getAbsPos(at);
    a->getAbsolutePosition(aa);
    EXPECT_EQ(aa(0, 3), at(0, 3));
    // Degrouping drops the tree built over the assembly's frame.
    a->removeCollisionEntities();
    EXPECT_FALSE(p->isBVConstructed());
    p->makeCollisionEntity(noDelegate);
    CqarMat4 again;
    ASSERT_EQ(0, p->getObbRelativePosition(again));
    EXPECT_NEAR(free(0, 3), again(0, 3), 1e-6);
}

} // namespace

// Trees shared between polyhedra of one mesh: a polyhedron built alone over
// a copy of the same floats is the reference, box for box, byte for byte.
namespace shared_tree {

CtvxPolyhedronOBBTree const* treeOf(boost::shared_ptr<CtvxPolyhedron> const& p)
{
    CtvxPolyhedronBVTree* tree = nullptr;
    if (p->getBoundingVolumes(tree) != 0)
        return nullptr;
    return dynamic_cast<CtvxPolyhedronOBBTree const*>(tree);
}

bool sameBoxes(CtvxPolyhedronOBBTree const* a, CtvxPolyhedronOBBTree const* b)
{
    return a && b && a->countObbs() == b->countObbs() && a->storedScale() == b->storedScale() &&
           a->depth() == b->depth() &&
           std::memcmp(a->obbs(), b->obbs(), sizeof(CtvxOBB) * static_cast<std::size_t>(a->countObbs())) == 0;
}

boost::shared_ptr<CtvxPolyhedron> onData(boost::shared_ptr<CtvxPolyhedronData> data)
{
    return CtvxPolyhedron::create(data);
}

TEST(PolyhedronSharedTree, OneTreePerMeshAndPointsTransform)
{
    tvxtest::Mesh const torus = tvxtest::makeTorus(24, 12, 2.0, 0.5);
    boost::shared_ptr<CtvxPolyhedron> first = tvxtest::makePolyhedron(torus);
    boost::shared_ptr<CtvxPolyhedron> alone = tvxtest::makePolyhedron(torus);
    boost::shared_ptr<CtvxPolyhedronData> data = first->polyData();
    boost::shared_ptr<CtvxPolyhedron> second = onData(data);
    boost::shared_ptr<tvxtest::RecordingDelegate> rec = tvxtest::RecordingDelegate::create();
    boost::shared_ptr<CtvxProgressDelegate> d = rec;
    first->makeCollisionEntity(noDelegate);
    second->makeCollisionEntity(d);
    alone->makeCollisionEntity(noDelegate);
    // Adopted, not rebuilt: no node reported, the entity still is.
    EXPECT_EQ(std::vector<std::string>{"entity " + std::to_string(torus.triangles.size())}, rec->events);
    EXPECT_EQ(treeOf(first), treeOf(second));
    EXPECT_NE(treeOf(first), treeOf(alone));
    EXPECT_TRUE(sameBoxes(treeOf(first), treeOf(alone)));
    ASSERT_TRUE(second->polyObb() && alone->polyObb());
    float h1[3], h2[3];
    second->polyObb()->getHalfLengths(h1[0], h1[1], h1[2]);
    alone->polyObb()->getHalfLengths(h2[0], h2[1], h2[2]);
    EXPECT_EQ(0, std::memcmp(h1, h2, sizeof h1));

    // Another points transform sees other floats: its own tree, the same as
    // a lone polyhedron moved the same way builds.
    boost::shared_ptr<CtvxPolyhedron> turned = onData(data);
    turned->movePoints(rotationZMat(0.7));
    alone->removeCollisionEntities();
    alone->movePoints(rotationZMat(0.7));
    turned->makeCollisionEntity(noDelegate);
    alone->makeCollisionEntity(noDelegate);
    EXPECT_NE(treeOf(first), treeOf(turned));
    EXPECT_TRUE(sameBoxes(treeOf(turned), treeOf(alone)));
    // The tree lives while a polyhedron holds it, and only that long.
    boost::weak_ptr<CtvxPolyhedron> firstWeak = first;
    first.reset();
    EXPECT_TRUE(firstWeak.expired());
    ASSERT_TRUE(treeOf(second));
    boost::shared_ptr<CtvxPolyhedron> third = onData(data);
    third->makeCollisionEntity(noDelegate);
    EXPECT_EQ(treeOf(second), treeOf(third));
    second->removeCollisionEntities();
    third->removeCollisionEntities();
    boost::shared_ptr<CtvxPolyhedron> later = onData(data);
    later->makeCollisionEntity(noDelegate);
    alone->removeCollisionEntities();
    alone->movePoints(rotationZMat(-0.7));
    alone->makeCollisionEntity(noDelegate);
    EXPECT_TRUE(sameBoxes(treeOf(later), treeOf(alone)));
}

TEST(PolyhedronSharedTree, ChangedMeshOrSettingsGetANewTree)
{
    tvxtest::Mesh const box = tvxtest::makeBox(1, 2, 3);
    boost::shared_ptr<CtvxPolyhedron> before = tvxtest::makePolyhedron(box);
    boost::shared_ptr<CtvxPolyhedronData> data = before->polyData();
    before->makeCollisionEntity(noDelegate);
    unsigned int rank = 0, t = 0;
    data->addPoint(5.0f, 5.0f, 5.0f, rank);
    data->addTriangle(0, 1, rank, t);
    boost::shared_ptr<CtvxPolyhedron> after = onData(data);
    after->makeCollisionEntity(noDelegate);
    ASSERT_TRUE(treeOf(before) && treeOf(after));
    EXPECT_EQ(static_cast<int>(box.triangles.size()) - 1, treeOf(before)->countObbs());
    EXPECT_EQ(static_cast<int>(box.triangles.size()), treeOf(after)->countObbs());

    // The builder's process-wide settings shape the boxes: a tree built
    // under other settings is never handed out, either way round (a
    // default tree handed to a set built under an opt-in, or the opt-in's
    // tree to a later default set, would change which pairs the walks
    // meet first).
    auto const underSetting = [&data](int setting, bool on) {
        CtvxPolyhedronOBBTreeFactory::algoObbPlacement(setting == 0 && on
                                                           ? CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_AABB_LIKE
                                                           : CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT);
        CtvxPolyhedronOBBTreeFactory::conservativeBoxes(!(setting == 1 && on));
        CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(setting == 2 && on);
        boost::shared_ptr<CtvxPolyhedron> p = onData(data);
        p->makeCollisionEntity(noDelegate);
        CtvxPolyhedronOBBTreeFactory::algoObbPlacement(CtvxPolyhedronOBBTreeFactory::OBB_PLACEMENT_DEFAULT);
        CtvxPolyhedronOBBTreeFactory::conservativeBoxes(true);
        CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(false);
        return p;
    };
    for (int setting = 0; setting < 3; ++setting) {
        boost::shared_ptr<CtvxPolyhedron> const other = underSetting(setting, true);
        EXPECT_NE(treeOf(after), treeOf(other)) << "setting " << setting;
        boost::shared_ptr<CtvxPolyhedron> const otherAgain = underSetting(setting, true);
        EXPECT_EQ(treeOf(other), treeOf(otherAgain)) << "setting " << setting;
        EXPECT_EQ(treeOf(after), treeOf(underSetting(setting, false))) << "setting " << setting;
    }
}

// Instances of one mesh made collision entities, some dropped and some
// rebuilt on the way (new sets often take a dropped one's address): the
// mesh's list of sets to mark stale is kept up in steps linear in the builds,
// and a triangle added afterwards leaves exactly the live sets stale.
TEST(PolyhedronSharedTree, ManyInstancesWatchedInLinearSteps)
{
    boost::shared_ptr<CtvxPolyhedronData> data = tvxtest::makePolyhedron(tvxtest::makeBox(1, 1, 1))->polyData();
    std::vector<boost::shared_ptr<CtvxPolyhedron>> live;
    std::size_t builds = 0;
    for (int k = 0; k < 3000; ++k) {
        boost::shared_ptr<CtvxPolyhedron> p = onData(data);
        p->makeCollisionEntity(noDelegate);
        ++builds;
        if (k % 3 == 1)
            continue; // dropped: its address is free for the next one
        if (k % 5 == 0) {
            p->removeCollisionEntities();
            p->makeCollisionEntity(noDelegate);
            ++builds;
        }
        live.push_back(p);
    }
    CtvxTreeShelf const& shelf = data->treeShelf();
    EXPECT_LE(shelf.watcherSteps, 4 * builds);
    EXPECT_LE(shelf.watchers.size(), 2 * live.size() + 8);
    unsigned int rank = 0, t = 0;
    data->addPoint(2.0f, 2.0f, 2.0f, rank);
    data->addTriangle(0, 1, rank, t);
    EXPECT_EQ(live.size(), static_cast<std::size_t>(std::count_if(
                               live.begin(), live.end(), [](auto const& p) { return p->isBVStale(); })));
}

// A host subclass may read its triangles otherwise: it never adopts a tree.
class MirroredPolyhedron : public CtvxPolyhedron {
public:
    static boost::shared_ptr<MirroredPolyhedron> create(boost::shared_ptr<CtvxPolyhedronData> const& data)
    {
        boost::shared_ptr<MirroredPolyhedron> p(new MirroredPolyhedron());
        boost::shared_ptr<CtvxPolyhedron> base = p;
        p->init(base, data);
        return p;
    }
    void getTriangle(unsigned int rank, CqarPoint3* const points) const override
    {
        CtvxPolyhedron::getTriangle(rank, points);
        for (int k = 0; k < 3; ++k)
            points[k][0] = -points[k][0];
    }
};

TEST(PolyhedronSharedTree, SubclassesAndThreadsBuildSafely)
{
    tvxtest::Mesh const torus = tvxtest::makeTorus(40, 20, 2.0, 0.5);
    boost::shared_ptr<CtvxPolyhedron> plain = tvxtest::makePolyhedron(torus);
    boost::shared_ptr<CtvxPolyhedronData> data = plain->polyData();
    plain->makeCollisionEntity(noDelegate);
    boost::shared_ptr<MirroredPolyhedron> mirrored = MirroredPolyhedron::create(data);
    mirrored->makeCollisionEntity(noDelegate);
    EXPECT_NE(treeOf(plain), treeOf(mirrored));
    plain.reset();

    // Polyhedra of several threads, one mesh: one tree, built once, whole
    // for every reader (no thread may see it under construction).
    std::vector<boost::shared_ptr<CtvxPolyhedron>> polys;
    for (int i = 0; i < 4; ++i)
        polys.push_back(onData(data));
    std::vector<std::thread> threads;
    for (auto& p : polys)
        threads.emplace_back([&p] { p->makeCollisionEntity(noDelegate); });
    for (auto& th : threads)
        th.join();
    boost::shared_ptr<CtvxPolyhedron> alone = tvxtest::makePolyhedron(torus);
    alone->makeCollisionEntity(noDelegate);
    for (auto& p : polys) {
        EXPECT_EQ(treeOf(polys[0]), treeOf(p));
        EXPECT_TRUE(sameBoxes(treeOf(p), treeOf(alone)));
    }
}

// Polyhedra of several threads on one mesh that still has spare capacity:
// releasing it while another thread reads the arrays corrupted the heap.
// Their own trees, and groups of assemblies whose members share the mesh.
TEST(PolyhedronSharedTree, ThreadsBuildOverAMeshWithSpareCapacity)
{
    tvxtest::Mesh const torus = tvxtest::makeTorus(40, 20, 2.0, 0.5);
    boost::shared_ptr<CtvxPolyhedron> alone = tvxtest::makePolyhedron(torus);
    alone->makeCollisionEntity(noDelegate);
    for (bool const grouped : {false, true}) {
        boost::shared_ptr<CtvxPolyhedronData> data = tvxtest::makePolyData(torus);
        data->reserveNPoints(4 * data->countPoints());
        data->reserveNTriangles(4 * data->countTriangles());
        std::vector<boost::shared_ptr<CtvxPolyhedron>> polys;
        std::vector<boost::shared_ptr<CtvxObject>> entities;
        for (int i = 0; i < 4; ++i) {
            polys.push_back(onData(data));
            entities.push_back(polys.back());
            if (grouped) {
                boost::shared_ptr<CtvxAssembly> a = CtvxAssembly::create();
                a->attach(polys.back(), -1);
                entities.back() = a;
            }
        }
        // Started together, so that the builds overlap.
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (auto& e : entities)
            threads.emplace_back([&e, &ready] {
                ready.fetch_add(1);
                while (ready.load() < 4) {
                }
                e->makeCollisionEntity(noDelegate);
            });
        for (auto& th : threads)
            th.join();
        for (auto& p : polys) {
            if (!grouped) {
                EXPECT_TRUE(sameBoxes(treeOf(p), treeOf(alone)));
            }
        }
        for (auto& e : entities)
            EXPECT_TRUE(e->areCollisionEntitiesMade());
    }
}

// Does one thing to the scene from inside a build, at its first node
// report (as a host's delegate might), and counts the entities reported.
class MeddlingDelegate : public CtvxProgressDelegate {
public:
    static boost::shared_ptr<MeddlingDelegate> create(std::function<void()> action)
    {
        boost::shared_ptr<MeddlingDelegate> d(new MeddlingDelegate());
        d->action = std::move(action);
        return d;
    }
    void didMakeCollisionEntity(boost::shared_ptr<CtvxObject> const&, unsigned int) override { ++made; }
    void didBuildNode(unsigned int) override
    {
        std::function<void()> a;
        a.swap(action);
        if (a)
            a();
    }
    void willBuildTree(unsigned int) override {}
    void resetProgress(unsigned int) override {}
    std::function<void()> action;
    int made = 0;
};

TEST(PolyhedronBuild, SurvivesWhatItsDelegateDoesToThePolyhedron)
{
    // Each action runs at the first node report; under the sanitizers a tree
    // or polyhedron freed under the builder is reported.
    tvxtest::Mesh const torus = tvxtest::makeTorus(16, 6, 2.0, 0.5);
    enum Action { REMOVE, MAKE_AGAIN, REMOVE_AND_MAKE, DROP, SCALE, ADD_TRIANGLE };
    for (Action const action : {REMOVE, MAKE_AGAIN, REMOVE_AND_MAKE, DROP, SCALE, ADD_TRIANGLE}) {
        SCOPED_TRACE(action);
        boost::shared_ptr<CtvxPolyhedron> p = tvxtest::makePolyhedron(torus);
        boost::weak_ptr<CtvxPolyhedron> watch = p;
        CtvxPolyhedron* const raw = p.get();
        CqarPoint3 centre(0, 0, 0);
        unsigned int rank = 0;
        boost::shared_ptr<MeddlingDelegate> d = MeddlingDelegate::create([&] {
            switch (action) {
            case REMOVE: raw->removeCollisionEntities(); break;
            case MAKE_AGAIN: raw->makeCollisionEntity(noDelegate); break;
            case REMOVE_AND_MAKE:
                raw->removeCollisionEntities();
                raw->makeCollisionEntity(noDelegate);
                break;
            case DROP: p.reset(); break;
            case SCALE: EXPECT_EQ(0, raw->scale(centre, 0.5)); break;
            case ADD_TRIANGLE: raw->addTriangle(0, 1, 2, rank); break;
            }
        });
        boost::shared_ptr<CtvxProgressDelegate> asDelegate = d;
        raw->makeCollisionEntity(asDelegate);
        if (action == DROP) {
            // Built to the end, then released with the last reference.
            EXPECT_TRUE(watch.expired());
            EXPECT_EQ(1, d->made);
            continue;
        }
        // The delegate's outcome stands: removed stays removed; a tree made
        // meanwhile is the one kept, whole.
        EXPECT_EQ(action != REMOVE, p->areCollisionEntitiesMade());
        EXPECT_EQ(action == REMOVE ? 0 : 1, d->made);
        if (action == REMOVE) {
            EXPECT_EQ(nullptr, p->polyObb());
            continue;
        }
        // A triangle added during the build leaves the tree stale; the next
        // box request rebuilds it.
        EXPECT_EQ(action == ADD_TRIANGLE, p->isBVStale());
        float h[3];
        p->getObbHalfLengths(h[0], h[1], h[2]);
        EXPECT_FALSE(p->isBVStale());
        // The same tree as a build with nothing in the way.
        boost::shared_ptr<CtvxPolyhedron> fresh = tvxtest::makePolyhedron(torus);
        CqarMat4 m;
        p->getPointsTransform(m);
        fresh->movePoints(m);
        if (action == ADD_TRIANGLE)
            fresh->addTriangle(0, 1, 2, rank);
        fresh->makeCollisionEntity(noDelegate);
        EXPECT_TRUE(sameBoxes(treeOf(p), treeOf(fresh)));
    }
}

TEST(PolyhedronBuild, RegroupingSurvivesWhatItsDelegateDoesToTheAssembly)
{
    for (bool const drop : {false, true}) {
        boost::shared_ptr<CtvxAssembly> assembly = CtvxAssembly::create();
        boost::shared_ptr<CtvxPolyhedron> leaf = tvxtest::makePolyhedron(tvxtest::makeTorus(16, 6, 2.0, 0.5));
        assembly->attach(leaf, -1);
        assembly->absolutePosition(translationMat(3, 0, 0));
        CqarPoint3 before;
        leaf->getPoint(0, before);
        CtvxAssembly* const raw = assembly.get();
        boost::weak_ptr<CtvxAssembly> watch = assembly;
        boost::shared_ptr<MeddlingDelegate> d = MeddlingDelegate::create([&] {
            if (drop)
                assembly.reset();
            else
                raw->removeCollisionEntities();
        });
        boost::shared_ptr<CtvxProgressDelegate> asDelegate = d;
        raw->makeCollisionEntity(asDelegate);
        // Degrouped from inside the build, or destroyed after it: the leaf is
        // free and in its own frame again.
        EXPECT_EQ(drop, watch.expired());
        EXPECT_FALSE(leaf->isLocked());
        CqarPoint3 after;
        leaf->getPoint(0, after);
        EXPECT_NEAR(before[0], after[0], 1e-6);
        EXPECT_EQ(drop ? 1 : 0, d->made);
        if (!drop) {
            EXPECT_FALSE(assembly->isRegrouped());
        }
    }
}

} // namespace shared_tree
