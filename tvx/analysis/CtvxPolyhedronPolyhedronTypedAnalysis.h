#pragma once

#include <tvx/tvxExport.h>
#include <tvx/analysis/CtvxTypedAnalysis.h>
#include <tvx/math/CtvxMat4.h>

#include <qar/CqarVect3.h>

#include <boost/shared_ptr.hpp>

#include <vector>

class CtvxOBB;
class CtvxPoint;
class CtvxPoly;
class CtvxTriangle;
class CtvxPolyhedronOBBTree;

// One query between two triangle sets (polyhedra, or the groups of
// regrouped assemblies), by the simultaneous descent of their OBB trees.
//
// The driver builds one for each pair of sets it reaches and calls compute()
// once. The descent always splits the larger of the two boxes in hand,
// prunes every pair that a separating axis shows apart (or, for distances,
// farther apart than the best distance so far), and ends at pairs of
// triangles tested exactly. A distance query starts from the triangles that
// were closest last time (each set keeps that hint), so that a scene that
// barely moved prunes almost everything at once. All tests run in the first
// set's frame, or in a box's frame, in single precision; the relative
// placement of the two sets is computed once in double precision. Contact
// means a triangle distance at most the sum of the two triangles'
// tolerances, and every distance reported is the distance minus the
// tolerances in play.
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
    // A pending step of the descent: a box or a triangle of each set. The
    // descent keeps them on an explicit stack, because degenerate meshes make
    // trees as deep as they have triangles; popping in last-in-first-out
    // order visits pairs in the same order as a recursive descent would.
    struct Step {
        int first;  // box rank of tree 1, or -(triangle rank) - 1
        int second; // box rank of tree 2, or -(triangle rank) - 1
    };

    // descend() picks one of three walks over the same pairs. In order:
    // depth first, first child first, each pair tested when it is reached;
    // every type but the exact distance, and the contact search that settles
    // which contact an exact distance query reports. Nearest first (exact
    // distance only): both children of a split are tested at once and the
    // nearer descended first, so the bound falls fast; it returns false when
    // it meets a contact. Straightforward: the plain recursive order without
    // cached placements, for trees too deep to order ties and as the
    // reference the faster walks are checked against.
    void descend();
    void descendInOrder(bool contactOnly);
    bool descendNearestFirst();
    void descendStraightforward();
    // A sound margin for lower bounds that are not the box test's own: far
    // above the rounding of any distance this pair can produce.
    float boundMargin() const;
    void computeObbObb(CtvxOBB* b1, CtvxOBB* b2, CtvxMat4 const& m1, CtvxMat4 const& m2);
    void computeObbTriangle(CtvxOBB* b1, CtvxMat4 const& m1, unsigned int t2, float (&tri2)[3][3]);
    void computeTriangleObb(unsigned int t1, float (&tri1)[3][3], CtvxOBB* b2, CtvxMat4 const& m2);
    void computeTriangleTriangle(unsigned int t1, float (&tri1)[3][3], unsigned int t2, float (&tri2)[3][3]);
    // The outcome of a box test: true to descend, false to prune.
    bool boxOutcome(int result, float d0, float bound);
    void pushChildren(CtvxOBB const* box, bool splitFirst, int other);
    bool distanceMode() const;
    // The box-triangle test of a triangle mapped into the box's frame, and
    // its outcome.
    bool boxTriangleNeedsDescent(CtvxOBB const* box, CtvxPolyhedronOBBTree const* tree, CtvxMat4 const& toBox,
                                 float (&tri)[3][3]);
    // Direct access to the stored floats of a plain polyhedron whose points
    // transform is the identity: what its getTriangle() would return,
    // narrowed back to float, without a virtual call per triangle.
    struct DirectMesh {
        CtvxPoint const* points = nullptr;
        CtvxTriangle const* triangles = nullptr;
        // A polyhedron has one tolerance for all its triangles.
        bool uniformTolerance = false;
        float tolerance = 0.0f;
    };
    static DirectMesh directMeshOf(CtvxPoly* poly);
    void readTriangle(CtvxPoly* poly, DirectMesh const& direct, unsigned int rank, float (&tri)[3][3]) const;
    // Whether triangles t1 and t2 touch, for the hint's shortcut.
    bool hintTouches(unsigned int t1, unsigned int t2);
    // The summed tolerances of two triangles, each rounded to single first.
    float pairTolerance(unsigned int t1, unsigned int t2) const;
    // The triangle of a box-triangle step in the frame of the box: box 1
    // (placed by toBox1, frame 2 into its frame) and a triangle of set 2, or
    // box 2 (placed by place2) and a triangle of set 1; toBox2 receives the
    // map of frame 1 into box 2's frame in the second case.
    void triangleInBoxFrame(bool boxOfFirst, int first, int second, CtvxMat4 const& toBox1, CtvxMat4 const& place2,
                            float (&v)[3][3], CtvxMat4& toBox2) const;

    float TriDist(float* const p, float* const q, float const (*const s)[3], float const (*const t)[3]) const;
    void SegPoints(float* const vec, float* const x, float* const y, float const* const p, float const* const a,
                   float const* const q, float const* const b) const;
    bool triContact(float const (*const p)[3], float const (*const q)[3], float& separation) const;
    int project6(float* axis, float* p1, float* p2, float* p3, float* q1, float* q2, float* q3,
                 float& separation) const;
    void PmM(float* const out, float const* const in, CtvxMat4 const& m) const;
    void TcT(float (&out)[3][3], CqarPoint3 const* const points) const;
    void invariant() const {}

    CtvxPoly* m_poly1;
    boost::shared_ptr<CtvxPoly> m_poly1ShPtr;
    CtvxPoly* m_poly2;
    boost::shared_ptr<CtvxPoly> m_poly2ShPtr;
    CtvxAnalysis::EAnalysisType m_analysisType;
    boost::shared_ptr<CtvxDistance> m_distance;
    boost::shared_ptr<CtvxCollision> m_collision;
    bool m_isDistanceFound;
    bool m_isCollisionFound;
    CtvxOBB* m_obbs1;
    CtvxOBB* m_obbs2;
    CtvxPolyhedronOBBTree* m_tree1;
    CtvxPolyhedronOBBTree* m_tree2;
    int m_closestTriangle1;
    CqarPoint3 m_closestPoint1;
    int m_closestTriangle2;
    CqarPoint3 m_closestPoint2;
    CtvxMat4 m_poly2ToPoly1;
    float m_polyTolerance;
    float m_triangleTolerance;

    // The pending steps. Borrowed from a per-thread pool that keeps its
    // capacity between queries, so that a descent allocates nothing once the
    // deepest pair of trees has been seen.
    std::vector<Step>* m_steps = nullptr;
    DirectMesh m_direct1;
    DirectMesh m_direct2;
    float m_margin = 0.0f;
    // Closest pair found by the nearest-first walk: the rank of the pair
    // in the in-order walk (child choices as bits, first split highest), so
    // that of two pairs at the same distance the one the in-order walk meets
    // first is kept.
    bool m_bestRanked = false;
    unsigned long long m_bestRank[2] = {0, 0};
    unsigned long m_boxTests = 0;
    unsigned long m_triangleTests = 0;
    mutable unsigned long m_unsureTests = 0;
};
