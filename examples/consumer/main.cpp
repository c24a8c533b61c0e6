// A host program that uses the installed headers and libraries only: two
// unit cubes, one moved 3 along x, asked whether they touch and how close
// they come.
#include <tvx/tvx.h>

#include <cmath>
#include <cstdio>

namespace {

boost::shared_ptr<CtvxPolyhedron> cube()
{
    boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create();
    unsigned int rank = 0;
    for (int i = 0; i < 8; ++i)
        p->addPoint((i & 1) ? 0.5f : -0.5f, (i & 2) ? 0.5f : -0.5f, (i & 4) ? 0.5f : -0.5f, rank);
    unsigned const faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                                   {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    for (auto const& f : faces)
        p->addTriangle(f[0], f[1], f[2], rank);
    boost::shared_ptr<CtvxProgressDelegate> none;
    p->makeCollisionEntity(none);
    return p;
}

} // namespace

int main()
{
    boost::shared_ptr<CtvxPolyhedron> a = cube(), b = cube();
    CqarMat4 place;
    place.setColumn(4, 3.0, 0.0, 0.0, 1.0);
    b->absolutePosition(place);

    boost::shared_ptr<CtvxCollisionList> l1 = CtvxCollisionList::create(), l2 = CtvxCollisionList::create();
    l1->add(a);
    l2->add(b);
    boost::shared_ptr<CtvxAnalysis> analysis = CtvxAnalysis::create();
    analysis->setCollisionList1(l1);
    analysis->setCollisionList2(l2);

    analysis->setAnalysisType(CtvxAnalysis::FIRST_COLLISION);
    analysis->compute();
    bool const touching = analysis->countCollisions() > 0;

    analysis->setAnalysisType(CtvxAnalysis::EXACT_DISTANCE);
    analysis->compute();
    float clearance = -1.0f;
    if (analysis->countDistances() == 1) {
        boost::shared_ptr<CtvxDistance> d;
        analysis->getDistance(0, d);
        clearance = d->distance();
    }
    bool const ok = !touching && std::fabs(clearance - 2.0f) < 1e-5f;
    std::printf("consumer: touching %s, clearance %g: %s\n", touching ? "yes" : "no", clearance, ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
