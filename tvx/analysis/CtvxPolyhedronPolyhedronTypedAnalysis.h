#pragma once

#include <tvx/tvxExport.h>
#include <tvx/analysis/CtvxTypedAnalysis.h>

#include <boost/shared_ptr.hpp>

class CtvxPoly;

// One query between two triangle sets (polyhedra, or the groups of
// regrouped assemblies), by the simultaneous descent of their OBB trees.
//
// Build one for a pair of sets and call compute() once. The descent always
// splits the larger of the two boxes in hand, prunes every pair that a
// separating axis shows apart (or, for distances, farther apart than the
// best distance so far), and ends at pairs of triangles tested exactly. A
// distance query starts from the triangles that were closest last time
// (each set keeps that hint), so that a scene that barely moved prunes
// almost everything at once. All tests run in the first set's frame, or in a
// box's frame, in single precision; the relative placement of the two sets
// is computed once in double precision. Contact means a triangle distance at
// most the sum of the two triangles' tolerances, and every distance reported
// is the distance minus the tolerances in play. The analysis driver
// (CtvxAnalysis) runs the same query for every pair of sets it reaches, in
// working memory it keeps between queries; an instance of this class works
// in its own.
class TVX_API CtvxPolyhedronPolyhedronTypedAnalysis : public CtvxTypedAnalysis {
public:
    CtvxPolyhedronPolyhedronTypedAnalysis(boost::shared_ptr<CtvxPoly> const& poly1,
                                          boost::shared_ptr<CtvxPoly> const& poly2);
    CtvxPolyhedronPolyhedronTypedAnalysis(CtvxPolyhedronPolyhedronTypedAnalysis const&) = default;
    CtvxPolyhedronPolyhedronTypedAnalysis& operator=(CtvxPolyhedronPolyhedronTypedAnalysis const&) = default;
    ~CtvxPolyhedronPolyhedronTypedAnalysis() override;

    void compute(CtvxAnalysis::EAnalysisType type, bool& collided, boost::shared_ptr<CtvxCollision>& collision,
                 bool& distanceFound, boost::shared_ptr<CtvxDistance>& distance) override;

    // Counters of the last compute(), for benchmarks and tests.
    unsigned long boxTests() const { return m_boxTests; }
    unsigned long triangleTests() const { return m_triangleTests; }
    // Triangle decisions that single precision could not settle.
    unsigned long unsureTests() const { return m_unsureTests; }

private:
    void invariant() const {}

    boost::shared_ptr<CtvxPoly> m_poly1ShPtr;
    boost::shared_ptr<CtvxPoly> m_poly2ShPtr;
    unsigned long m_boxTests = 0;
    unsigned long m_triangleTests = 0;
    unsigned long m_unsureTests = 0;
};
