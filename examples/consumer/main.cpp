// Two unit cubes, the second turned 45 degrees about z: how close they come,
// then whether they touch once moved together. Built against the installed
// package only; the README quotes this file whole.
#include <tvx/tvx.h>

#include <cmath>
#include <cstdio>

// A unit cube centred at the origin: 8 points, 12 triangles.
static boost::shared_ptr<CtvxPolyhedron> makeCube()
{
    boost::shared_ptr<CtvxPolyhedron> cube = CtvxPolyhedron::create();
    unsigned int rank = 0;
    for (int i = 0; i < 8; ++i)
        cube->addPoint(i & 1 ? 0.5f : -0.5f, i & 2 ? 0.5f : -0.5f, i & 4 ? 0.5f : -0.5f, rank);
    unsigned int const faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                                       {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    for (auto const& f : faces)
        cube->addTriangle(f[0], f[1], f[2], rank);
    return cube;
}

// b's placement: turned by 45 degrees about z, its centre at (x, 0, 0).
static CqarMat4 turnedAt(double x)
{
    double const c = std::sqrt(0.5), s = c; // cosine and sine of 45 degrees
    CqarMat4 m;                              // the identity
    m(0, 0) = c, m(0, 1) = -s;
    m(1, 0) = s, m(1, 1) = c;
    m.setColumn(4, x, 0.0, 0.0, 1.0); // the translation (columns count from 1)
    return m;
}

int main()
{
    boost::shared_ptr<CtvxPolyhedron> a = makeCube(), b = makeCube();
    boost::shared_ptr<CtvxProgressDelegate> none; // nobody to tell how the builds progress
    a->makeCollisionEntity(none);                 // builds a's tree of boxes
    b->makeCollisionEntity(none);                 // and b's
    b->absolutePosition(turnedAt(3.0));

    boost::shared_ptr<CtvxCollisionList> list1 = CtvxCollisionList::create(), list2 = CtvxCollisionList::create();
    list1->add(a);
    list2->add(b);
    boost::shared_ptr<CtvxAnalysis> analysis = CtvxAnalysis::create();
    analysis->setCollisionList1(list1);
    analysis->setCollisionList2(list2);

    // Does anything of list 1 touch anything of list 2? Stops at the first contact.
    analysis->setAnalysisType(CtvxAnalysis::FIRST_COLLISION);
    analysis->compute();
    unsigned int const contactsApart = analysis->countCollisions();

    // The clearance and the two closest points, one on each cube.
    analysis->setAnalysisType(CtvxAnalysis::EXACT_DISTANCE);
    analysis->compute();
    if (analysis->countDistances() != 1)
        return 1;
    boost::shared_ptr<CtvxDistance> d;
    analysis->getDistance(0, d);
    float const exact = d->distance();
    boost::shared_ptr<CtvxGeometryPoint> onA, onB;
    if (!d->isExactDistance() || d->getClosestPoint1(onA) != 0 || d->getClosestPoint2(onB) != 0)
        return 1;
    CqarPoint3 pa, pb; // in world coordinates
    onA->pointAbsolute(pa);
    onB->pointAbsolute(pb);

    // A lower bound of the clearance, much cheaper, without points.
    analysis->setAnalysisType(CtvxAnalysis::ESTIMATED_DISTANCE);
    analysis->compute();
    if (analysis->countDistances() != 1)
        return 1;
    analysis->getDistance(0, d);
    float const estimate = d->distance();

    // Moved together, every pair of triangles in contact, per pair of objects.
    b->absolutePosition(turnedAt(1.0));
    analysis->setAnalysisType(CtvxAnalysis::ALL_COLLISIONS);
    analysis->compute();
    boost::shared_ptr<CtvxCollision> c;
    unsigned int pairs = 0;
    if (analysis->countCollisions() == 1) {
        analysis->getCollision(0, c);
        pairs = c->countPairs(); // c->getFirst(i, ...) and getSecond(i, ...) name the triangles
    }

    std::printf("apart: %u contacts, clearance %.7g between (%g, %g, %g) and (%g, %g, %g), at least %.7g\n",
                contactsApart, exact, pa[0], pa[1], pa[2], pb[0], pb[1], pb[2], estimate);
    std::printf("together: %u triangle pairs in contact\n", pairs);

    // Worked out by hand: b's nearest edge runs along z at x = 3 - sqrt(1/2),
    // facing a's side x = 0.5 across 2.5 - sqrt(1/2) = 1.7928932; moved to
    // x = 1 that edge lies inside a.
    double const clearance = 2.5 - std::sqrt(0.5), slack = 1e-5; // float geometry and results
    bool const ok = contactsApart == 0 && std::fabs(exact - clearance) < slack &&
                    std::fabs(pa[0] - 0.5) < slack && std::fabs(pb[0] - (3.0 - std::sqrt(0.5))) < slack &&
                    std::fabs(pa[1]) < slack && std::fabs(pb[1]) < slack && std::fabs(pa[2] - pb[2]) < slack &&
                    estimate >= 0.0f && estimate <= exact && pairs > 0;
    std::printf("%s\n", ok ? "as worked out by hand" : "NOT as worked out by hand");
    return ok ? 0 : 1;
}
