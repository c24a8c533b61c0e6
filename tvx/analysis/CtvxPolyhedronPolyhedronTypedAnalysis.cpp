#include <tvx/analysis/CtvxPolyhedronPolyhedronTypedAnalysis.h>

#include <tvx/analysis/internal/CtvxPairContext.h>
#include <tvx/analysis/internal/CtvxQueryScratch.h>

#include <memory>

CtvxPolyhedronPolyhedronTypedAnalysis::CtvxPolyhedronPolyhedronTypedAnalysis(
    boost::shared_ptr<CtvxPoly> const& poly1, boost::shared_ptr<CtvxPoly> const& poly2)
    : m_poly1ShPtr(poly1), m_poly2ShPtr(poly2)
{
}

CtvxPolyhedronPolyhedronTypedAnalysis::~CtvxPolyhedronPolyhedronTypedAnalysis() = default;

void CtvxPolyhedronPolyhedronTypedAnalysis::compute(CtvxAnalysis::EAnalysisType type, bool& collided,
                                                    boost::shared_ptr<CtvxCollision>& collision,
                                                    bool& distanceFound,
                                                    boost::shared_ptr<CtvxDistance>& distance)
{
    // A query of its own, in scratch of its own (on the heap: the placement
    // caches are too large for every thread's stack).
    std::unique_ptr<CtvxQueryScratch> const scratch(new CtvxQueryScratch());
    CtvxPairContext pair(m_poly1ShPtr, m_poly2ShPtr, *scratch);
    pair.compute(type, CtvxWalk::Ordered, collided, collision, distanceFound, distance);
    m_boxTests = pair.boxTests();
    m_triangleTests = pair.triangleTests();
    m_unsureTests = pair.unsureTests();
}
