#pragma once

#include <tvx/bvtree/internal/CtvxLanes.h>
#include <tvx/math/CtvxMat4.h>

#include <qar/CqarMat4.h>
#include <qar/CqarVect3.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

// The exact tests that end every branch of a proximity query: separating-axis
// tests between two oriented boxes and between a box and a triangle, and the
// distance and contact tests between two triangles.
//
// The pair analysis derives from this class (or holds one) and sets
// m_triangleTolerance, the summed tolerance of the triangle pair under test,
// before calling triContact; nothing else here has state. The box tests are
// static, header-inline straight-line code because the tree descent calls them
// once per box pair. Everything runs in single precision with a fixed order of
// operations (the build forbids contraction into fused multiply-adds), so the
// answers are reproducible bit for bit between builds; the places where double
// precision is used are named where they happen.
//
// Contact of two triangles is one decision (contact(), and TriDist's zero),
// exact for the float triangles it is given: single precision settles the
// pairs its error bounds allow (an axis separation above 32 * 2^-24 of the
// coordinates, a distance proven by a slab to within DistanceSlack), and the
// orientation predicates of internal/CtvxExactPredicates, exact for every
// finite float, settle the rest. The pair analysis hands it the second
// set's triangles rounded into the first set's frame; under a relative
// rotation that rounding moves a vertex by at most 2^-20 (2 M + |T|) (M its
// largest coordinate, T the relative translation), so a verdict differs
// from the exact one of the placed geometry only for pairs whose clearance
// or depth of contact is within that much.
//
// Conventions shared by the box tests. A separation is how far apart the two
// projections on an axis are, minus the tolerance t; positive means apart. In
// overlap mode a test returns the code of the first axis whose separation is
// positive, or 0. In distance mode `ioBound` is the caller's best distance so
// far: an axis separating by more than it ends the test at once (the pair
// cannot beat it) and leaves it unchanged; otherwise the largest positive
// separation found replaces it and its axis code is returned (an equal later
// separation does not displace an earlier axis). Every axis used has length at
// most 1, so a reported separation never exceeds the true clearance, up to
// rounding.
class CtvxProximityKernels {
public:
    CtvxProximityKernels() = default;

    float triangleTolerance() const { return m_triangleTolerance; }
    void triangleTolerance(float t) { m_triangleTolerance = t; }

    // --- Triangle tests -----------------------------------------------------

    // Distance between triangles s and t (rows are vertices). Writes a closest
    // point p on s and q on t; they are meaningful only when the result is
    // positive. The result is 0 exactly when the two float triangles share a
    // point (decided exactly, see contact()); otherwise it is positive and
    // within DistanceSlack times the largest coordinate of the pair of the
    // true distance, and p and q lie on their triangles within the rounding
    // of their coordinates.
    //
    // The answer comes from a search of edge pairs and vertex-face pairs in
    // single precision, which is then checked: the slab between the planes
    // through p and q perpendicular to q - p must hold s on one side and t
    // on the other, and its width (computed in double precision from the
    // floats, with its rounding bounded) must come within DistanceSlack of
    // |p - q|. That proves the triangles apart and the distance right. A
    // search result that fails the check (about one pair in a few thousand
    // among adversarial ones, far fewer on meshes) is replaced: the exact
    // decision says whether they meet, and when they do not, every edge pair
    // and vertex-face pair is measured in double precision.
    float TriDist(float* const p, float* const q, float const (*const s)[3], float const (*const t)[3]) const;

    // The contact decision of the pair analysis, shared by all four query
    // types: true when the distance of triangles s and t is at most
    // m_triangleTolerance. With a zero tolerance it is exact: the triangles
    // touch exactly when the float triangles share a point. With a positive
    // one it is `TriDist(s, t) - tolerance <= 0`, the very comparison an
    // exact distance query makes. The 17-axis test (triContact(t, s))
    // settles the pairs that an axis separates by more than its error
    // bound; all other pairs go through the exact predicates (zero
    // tolerance) or TriDist. When false, outSeparation is a positive lower
    // bound of the clearance up to rounding: the separating axis's, or the
    // distance minus the tolerance.
    bool contact(float const (*const s)[3], float const (*const t)[3], float& outSeparation) const;

    // contact()'s decision without the separation, for the queries that
    // ask only whether triangles touch. With a zero tolerance it goes
    // straight to the exact predicates: they decide every touching pair
    // anyway, after the 17-axis scan has found no axis, and their own
    // double-precision filters settle most pairs apart as cheaply as the
    // scan's first axes (the pair's planes), so the scan is not run. The
    // answer is contact()'s, which is the exact verdict too: its single
    // precision settles only the pairs it is certain of. With a positive
    // tolerance it is contact() itself.
    bool touches(float const (*const s)[3], float const (*const t)[3]) const;

    // Closest points between segment p .. p + a and segment q .. q + b: x on
    // the first, y on the second; vec is a direction along which the two
    // points are extreme on their segments, used by TriDist to prove that a
    // pair of edges holds the closest points of two triangles.
    void SegPoints(float* const vec, float* const x, float* const y, float const* const p, float const* const a,
                   float const* const q, float const* const b) const;

    // True when no candidate axis separates triangles p and q by more than
    // m_triangleTolerance. When false, outSeparation is the separation (minus
    // the tolerance) along the first separating axis, a lower bound of the
    // clearance.
    bool triContact(float const (*const p)[3], float const (*const q)[3], float& outSeparation) const;

    // 1 when the projections of triangles (p1, p2, p3) and (q1, q2, q3) on the
    // axis overlap within m_triangleTolerance; 0 when they are apart, with the
    // separation along the unit axis (minus the tolerance) written.
    int project6(float* axis, float* p1, float* p2, float* p3, float* q1, float* q2, float* q3,
                 float& outSeparation) const;

    // out = m * in as an affine map (translation in column 3), in single
    // precision.
    void PmM(float* const out, float const* const in, CtvxMat4 const& m) const
    {
        for (int i = 0; i < 3; ++i)
            out[i] = m(i, 0) * in[0] + m(i, 1) * in[1] + m(i, 2) * in[2] + m(i, 3);
    }
    // The same on the three top rows of an affine map.
    static void PmM(float* const out, float const* const in, float const (&m)[3][4])
    {
        for (int i = 0; i < 3; ++i)
            out[i] = m[i][0] * in[0] + m[i][1] * in[1] + m[i][2] * in[2] + m[i][3];
    }

    // Copies three double-precision points into a float triangle.
    void TcT(float (&out)[3][3], CqarPoint3 const* const points) const;

    // --- Box tests ----------------------------------------------------------

    // Box a (half-lengths inA, centred at the origin, axis-aligned) against
    // box b (half-lengths inB) placed by inR: rotation block rows 0..2,
    // columns 0..2, translation column 3, mapping b's frame into a's. The tree
    // form: single-precision placement, tolerance inTolerance. Returns 0 or
    // the code (1..15) of the separating axis reported.
    static int boxBoxSeparation(float const* inA, float const* inB, CtvxMat4 const& inR, float inTolerance,
                                bool inDistanceMode, float& ioBound);

    // The tree form with the relative placement given as its two factors,
    // inR = inToBox1 * inPlace2 (3x4 rows, the affine product of CtvxMat4):
    // each element of the product is formed, as that product rounds it,
    // only when the scan first reads it, so a pair that the first axes
    // separate pays for a third of the product. Same code and same bound as
    // the tree form on the composed placement, bit for bit.
    static int boxBoxSeparation(float const* inA, float const* inB, float const (&inToBox1)[3][4],
                                float const (&inPlace2)[3][4], float inTolerance, bool inDistanceMode,
                                float& ioBound);

    // The top three rows of the affine product l * m, each matrix given as
    // rows of four floats (stride 4, as CtvxMat4 stores them), rounded as
    // CtvxMat4's product rounds them and written to out (same layout).
    static void composeRows(float const* l, float const* m, float* out);

    // The verdict of the factored form in overlap mode: true exactly where
    // it returns 0. The fifteen axes go three at a time through four-float
    // lanes, each lane computing what the scan computes for its axis with
    // the same operations in the same order, so the verdict is the scan's
    // bit for bit; which axis separates is not said.
    static bool boxesOverlap(float const* inA, float const* inB, float const (&inToBox1)[3][4],
                             float const (&inPlace2)[3][4], float inTolerance);

    // The same test on enclosing boxes, whose relative placement comes in
    // double precision. The boxes already contain their objects' tolerances,
    // so none is subtracted.
    static int boxBoxSeparation(float const* inA, float const* inB, CqarMat4 const& inR, bool inDistanceMode,
                                float& ioBound);

    // Box of half-lengths inH centred at the origin, axis-aligned, against
    // the triangle (inP0, inP1, inP2) given in the box's frame. Returns 0 or
    // the code (1..13) of the separating axis reported.
    static int boxTriangleSeparation(float const* inP0, float const* inP1, float const* inP2, float const* inH,
                                     float inTolerance, bool inDistanceMode, float& ioBound);

    // Its verdict in overlap mode: true exactly where it returns 0. The
    // face axes go three at a time through four-float lanes, and so do the
    // nine edge axes (the three edges of one box axis at a time), each lane
    // computing what the scan computes for its axis with the same
    // operations in the same order; the plane axis is the scan's own code.
    // Which axis separates is not said.
    static bool boxTriangleOverlap(float const* inP0, float const* inP1, float const* inP2, float const* inH,
                                   float inTolerance);
    // The same verdict on a triangle given in its own frame and the top
    // three rows of the affine map into the box's (stride 4, as CtvxMat4
    // stores them), the vertices placed in lanes as PmM places them.
    static bool boxTriangleOverlap(float const (&inTri)[3][3], float const* inRows, float const* inH,
                                   float inTolerance);
    // boxTriangleSeparation in the lanes of boxTriangleOverlap: the same
    // code and the same bound, bit for bit (the lanes compute every axis up
    // to the stage that stops, the scan's own stop and tie rules pick among
    // them), at about a third of the scan's instructions on a pair that no
    // face axis settles.
    static int boxTriangleSeparationInLanes(float const* inP0, float const* inP1, float const* inP2,
                                            float const* inH, float inTolerance, bool inDistanceMode,
                                            float& ioBound);

    // Widening of the rotation magnitudes in the box-box radii. The cross-
    // product axes of nearly parallel edges are as short as the rotation's
    // rounding noise, and their radii assume an exactly orthonormal rotation:
    // a float rotation made as a product of float frames is off by about
    // 1e-7 per element, enough to make boxes that overlap deeply look
    // separated along such an axis. The tree form widens the cross-product
    // axes only (its face axes are exact for any rotation, or wrong only by
    // rounding relative to a unit axis); the enclosing-box form widens all.
    static constexpr float RotationSlack = 1.0e-6f;

    // Spread of a triangle's vertices along its own unit normal, relative
    // to its largest coordinate, that rounding alone can produce: each
    // projection is a three-term dot product rounded a few times, so a
    // spread beyond 32 float roundings means the normal is not one.
    static constexpr float PlaneSpread = 32.0f * 1.1920929e-7f;

    // Rounding allowance of the box-triangle separations relative to the
    // largest vertex coordinate in the box's frame: 8 roundings for mapping
    // the vertex there (a 3x4 float product) and 8 for the projections.
    static constexpr float FarVertexRounding = 16.0f * 5.9604645e-8f;

    // Accuracy of TriDist, relative to the largest coordinate magnitude M of
    // the pair: its search answers are accepted only when the slab check
    // shows them within 2^-18 M (64 float roundings of M) of the true
    // distance, and its double-precision fallback is far more accurate. The
    // search's own error is a few roundings of M (coordinates rounded into
    // the query's frame, closest points rounded onto their segments), so
    // right answers pass with a wide margin.
    static constexpr double DistanceSlack = 1.0 / 262144.0;

    // Triangle decisions that single precision could not settle since this
    // object was made (the exact predicates or the double-precision
    // distance were consulted), and exact expansions evaluated by the
    // predicates (the rest were settled by their double-precision filters).
    unsigned long unsureDecisions() const { return m_unsure; }
    unsigned long exactExpansions() const { return m_expansions; }

    // --- Separation lower bounds --------------------------------------------

    // Lower bounds of a pair's clearance besides the box tests' own axes,
    // used by the nearest-first walk of the exact distance. Each is the gap
    // between the two projections on one unit axis, which never exceeds the
    // distance of the two sets (up to rounding): any axis is sound, and
    // these are chosen to be nearly the true distance where the box tests'
    // axes see a pair at a fraction of it. No tolerance is subtracted.

    // Box a (half-lengths inA, centred at the origin, axis-aligned) and box b
    // (half-lengths inB) placed by inR, along the line of their centres. The
    // face and edge axes of the box test see boxes that lie diagonally from
    // each other at a fraction of their distance (down to 1/sqrt(3)); this
    // axis sees far apart boxes at nearly their true distance. Minus
    // infinity when the centres coincide.
    static float centreLineGap(float const (&inA)[3], float const (&inB)[3], CtvxMat4 const& inR);

    // A box (half-lengths inH, centred at the origin, axis-aligned) and a
    // triangle given in its frame, along the line to the triangle's
    // centroid. Minus infinity when the centroid is the box's centre.
    static float centroidLineGap(float const (&inH)[3], float const (&inV)[3][3]);

    // The two boxes of centreLineGap along the unit axis inU of box a's
    // frame, box b lying on its positive side.
    static float axisGap(float const (&inA)[3], float const (&inB)[3], CtvxMat4 const& inR, float const (&inU)[3]);

    // The two boxes of centreLineGap along the line through their nearest
    // points, as found by a few alternating projections (the point of box a
    // nearest to b's centre, the point of b nearest to that, and so on). Two
    // facing flat boxes, as deep in a tree, are apart along that line by
    // nearly their distance, where the box test's axes and the line of
    // centres see boxes beside each other at a fraction of it. The points
    // need not be the nearest: the line only chooses the axis, and every
    // unit axis gives a sound bound. Minus infinity when the points meet.
    static float nearestPointsGap(float const (&inA)[3], float const (&inB)[3], CtvxMat4 const& inR);

    // The three box-pair gaps above with the placement given as its top
    // three rows (stride 4, as composeRows writes them), in four-float
    // lanes: the three sums of a row product side by side, each with the
    // scalar form's operations in its order, the translation's in the
    // fourth lane; the same float as the scalar forms, bit for bit.
    static float centreLineGapInLanes(float const (&inA)[3], float const (&inB)[3], float const* inRows);
    static float axisGapInLanes(float const (&inA)[3], float const (&inB)[3], float const* inRows,
                                float const (&inU)[3]);
    static float nearestPointsGapInLanes(float const (&inA)[3], float const (&inB)[3], float const* inRows);

    // The largest gap any unit axis can show between the two boxes of the
    // lane forms above (placement as its top three rows), up to rounding:
    // the distance of their centres less their thinnest half-lengths, since
    // a box reaches at least its thinnest half-length along any axis. What
    // the gaps above can prune beyond.
    static float axisGapCeiling(float const (&inA)[3], float const (&inB)[3], float const* inRows);

    // A box (half-lengths inH, centred at the origin, axis-aligned) and a
    // triangle given in its frame, along the line from the box's point
    // nearest to the triangle's centroid to the triangle's point nearest to
    // that. Minus infinity when the two points meet.
    static float nearestPointsGap(float const (&inH)[3], float const (&inV)[3][3]);

    // The same ceiling for a box and a triangle in its frame, on either
    // side of it: the distance of the triangle's centroid less the box's
    // thinnest half-length (a triangle is nowhere farther ahead or behind
    // along an axis than its centroid).
    static float axisGapCeiling(float const (&inH)[3], float const (&inV)[3][3]);

    // The box and triangle of centroidLineGap along the unit axis inU of the
    // box's frame, the triangle lying on its positive side, or on its
    // negative side when inBehind.
    static float axisGap(float const (&inH)[3], float const (&inV)[3][3], float const (&inU)[3], bool inBehind);

    // True when triangles a and b are farther apart than inBeyond along the
    // line of their centroids or along the unit axis inU (when not null), b
    // lying on its positive side; outGap is then the gap along that axis.
    static bool trianglesApart(float const (&inA)[3][3], float const (&inB)[3][3], float const* inU, float inBeyond,
                               float& outGap);

    // The next float above a positive finite x: a box test given it as its
    // bound stops at any axis that separates by more than x, so such a stop
    // proves the pair cannot even tie with x.
    static float justAbove(float x);

protected:
    // Sum of the tolerances of the two triangles under test.
    float m_triangleTolerance = 0.0f;

private:
    // The single-precision search behind TriDist (edge pairs, then the two
    // faces). outFeature names where p and q came from: edge i of s and
    // edge j of t as 3 i + j, or the face of s and vertex k of t as
    // FaceOfS + k, or the face of t and vertex k of s as FaceOfT + k.
    float searchFeatures(float* const p, float* const q, float const (*const s)[3], float const (*const t)[3],
                         int& outFeature) const;
    static constexpr int FaceOfS = 9;
    static constexpr int FaceOfT = 12;
    // The slab check of a search answer (see TriDist).
    bool certified(float d, float const* p, float const* q, float const (*s)[3], float const (*t)[3],
                   int feature) const;
    // The distance of two triangles known to be apart, as the minimum over
    // all edge pairs and vertex-face pairs in double precision.
    float closestPairWide(float* p, float* q, float const (*s)[3], float const (*t)[3]) const;
    // The 17-axis scan of triContact: 0 when no axis separates, otherwise 1
    // with the separation and the length of the (unnormalised) axis.
    int scanAxes(float const (*const p)[3], float const (*const q)[3], float& outSeparation,
                 float& outAxisLength) const;
    int project6(float* axis, float* p1, float* p2, float* p3, float* q1, float* q2, float* q3, float& outSeparation,
                 float& outAxisLength) const;

    mutable unsigned long m_unsure = 0;
    mutable unsigned long m_expansions = 0;

    // Scan state shared by the box tests.
    struct Scan {
        bool distanceMode;
        float bound;
        float best;
        int result;
        // Feeds the separation of axis `code`; true when the test must stop
        // now and return `code`.
        bool stopsAt(float s, int code)
        {
            if (!(s > 0.0f))
                return false;
            if (!distanceMode || s > bound)
                return true;
            if (s > best) {
                best = s;
                result = code;
            }
            return false;
        }
        // The same for a separation known only to within `allow`: it must
        // exceed the allowance to prune, and the bound by it to stop a
        // distance test; it is kept as it came (a lower bound up to
        // rounding, like every separation here).
        bool stopsAtWithin(float s, int code, float allow)
        {
            if (!(s > allow))
                return false;
            if (!distanceMode || s - allow > bound)
                return true;
            if (s > best) {
                best = s;
                result = code;
            }
            return false;
        }
        int finish(float& ioBound) const
        {
            if (result != 0 && distanceMode)
                ioBound = best;
            return result;
        }
    };

    // Rotation block and translation of box b in box a's frame, at the
    // precision the placement came in; s(code) is the centre distance
    // projected on axis `code`, formed at that precision and rounded to
    // single. Only the projections a scan reaches are computed.
    // F holds the rotation magnitudes used on the face axes, G those used
    // on the cross-product axes. reach(axis) readies what the scan reads
    // from that axis on (nothing here: everything is filled beforehand).
    template <typename Real>
    struct Placement {
        Real B[3][3];
        Real T[3];
        float F[3][3];
        float G[3][3];
        float s(int code) const;
        void reach(int) {}
    };
    // The composed placement of the factored tree form, filled as the scan
    // reaches the axes that read it: axis 1 row 0, axis 2 column 0 and the
    // translation, axes 3 and 4 the rest of rows 1 and 2, axis 7 G.
    struct ComposedPlacement : Placement<float> {
        float const (*L)[4];
        float const (*M)[4];
        void element(int i, int c)
        {
            B[i][c] = L[i][0] * M[0][c] + L[i][1] * M[1][c] + L[i][2] * M[2][c];
            F[i][c] = std::fabs(B[i][c]);
        }
        void translation(int i) { T[i] = L[i][0] * M[0][3] + L[i][1] * M[1][3] + L[i][2] * M[2][3] + L[i][3]; }
        void reach(int axis);
    };

    template <typename Place>
    static int boxBoxScan(float const* a, float const* b, Place& P, float t, bool distanceMode, float& ioBound);

    void invariant() const {}
};

template <typename Real>
inline float CtvxProximityKernels::Placement<Real>::s(int code) const
{
    switch (code) {
    case 1: return static_cast<float>(T[0]);
    case 2: return static_cast<float>(T[0] * B[0][0] + T[1] * B[1][0] + T[2] * B[2][0]);
    case 3: return static_cast<float>(T[1]);
    case 4: return static_cast<float>(T[2]);
    case 5: return static_cast<float>(T[0] * B[0][1] + T[1] * B[1][1] + T[2] * B[2][1]);
    case 6: return static_cast<float>(T[0] * B[0][2] + T[1] * B[1][2] + T[2] * B[2][2]);
    case 7: return static_cast<float>(T[2] * B[1][0] - T[1] * B[2][0]);
    case 8: return static_cast<float>(T[2] * B[1][1] - T[1] * B[2][1]);
    case 9: return static_cast<float>(T[2] * B[1][2] - T[1] * B[2][2]);
    case 10: return static_cast<float>(T[0] * B[2][0] - T[2] * B[0][0]);
    case 11: return static_cast<float>(T[0] * B[2][1] - T[2] * B[0][1]);
    case 12: return static_cast<float>(T[0] * B[2][2] - T[2] * B[0][2]);
    case 13: return static_cast<float>(T[1] * B[0][0] - T[0] * B[1][0]);
    case 14: return static_cast<float>(T[1] * B[0][1] - T[0] * B[1][1]);
    default: return static_cast<float>(T[1] * B[0][2] - T[0] * B[1][2]);
    }
}

// Axis codes: 1, 3, 4 are box a's axes 0, 1, 2; 2, 5, 6 box b's; 7..15 the
// cross products Ai x Bj in the order (0,0), (0,1), ..., (2,2), unnormalised
// (their length is the sine of the angle between the two edges). Face axes
// come first because they are the cheap ones and prune most pairs.
template <typename Place>
inline int CtvxProximityKernels::boxBoxScan(float const* a, float const* b, Place& P, float t, bool distanceMode,
                                            float& ioBound)
{
    Scan scan{distanceMode, ioBound, 0.0f, 0};
    float const (&F)[3][3] = P.F;
    float const (&G)[3][3] = P.G;
    float r;

    P.reach(1);
    r = a[0] + b[0] * F[0][0] + b[1] * F[0][1] + b[2] * F[0][2];
    if (scan.stopsAt(std::fabs(P.s(1)) - r - t, 1))
        return 1;
    P.reach(2);
    r = b[0] + a[0] * F[0][0] + a[1] * F[1][0] + a[2] * F[2][0];
    if (scan.stopsAt(std::fabs(P.s(2)) - r - t, 2))
        return 2;
    P.reach(3);
    r = a[1] + b[0] * F[1][0] + b[1] * F[1][1] + b[2] * F[1][2];
    if (scan.stopsAt(std::fabs(P.s(3)) - r - t, 3))
        return 3;
    P.reach(4);
    r = a[2] + b[0] * F[2][0] + b[1] * F[2][1] + b[2] * F[2][2];
    if (scan.stopsAt(std::fabs(P.s(4)) - r - t, 4))
        return 4;
    r = b[1] + a[0] * F[0][1] + a[1] * F[1][1] + a[2] * F[2][1];
    if (scan.stopsAt(std::fabs(P.s(5)) - r - t, 5))
        return 5;
    r = b[2] + a[0] * F[0][2] + a[1] * F[1][2] + a[2] * F[2][2];
    if (scan.stopsAt(std::fabs(P.s(6)) - r - t, 6))
        return 6;

    P.reach(7);
    r = a[1] * G[2][0] + a[2] * G[1][0] + b[1] * G[0][2] + b[2] * G[0][1];
    if (scan.stopsAt(std::fabs(P.s(7)) - r - t, 7))
        return 7;
    r = a[1] * G[2][1] + a[2] * G[1][1] + b[0] * G[0][2] + b[2] * G[0][0];
    if (scan.stopsAt(std::fabs(P.s(8)) - r - t, 8))
        return 8;
    r = a[1] * G[2][2] + a[2] * G[1][2] + b[0] * G[0][1] + b[1] * G[0][0];
    if (scan.stopsAt(std::fabs(P.s(9)) - r - t, 9))
        return 9;
    r = a[0] * G[2][0] + a[2] * G[0][0] + b[1] * G[1][2] + b[2] * G[1][1];
    if (scan.stopsAt(std::fabs(P.s(10)) - r - t, 10))
        return 10;
    r = a[0] * G[2][1] + a[2] * G[0][1] + b[0] * G[1][2] + b[2] * G[1][0];
    if (scan.stopsAt(std::fabs(P.s(11)) - r - t, 11))
        return 11;
    r = a[0] * G[2][2] + a[2] * G[0][2] + b[0] * G[1][1] + b[1] * G[1][0];
    if (scan.stopsAt(std::fabs(P.s(12)) - r - t, 12))
        return 12;
    r = a[0] * G[1][0] + a[1] * G[0][0] + b[1] * G[2][2] + b[2] * G[2][1];
    if (scan.stopsAt(std::fabs(P.s(13)) - r - t, 13))
        return 13;
    r = a[0] * G[1][1] + a[1] * G[0][1] + b[0] * G[2][2] + b[2] * G[2][0];
    if (scan.stopsAt(std::fabs(P.s(14)) - r - t, 14))
        return 14;
    r = a[0] * G[1][2] + a[1] * G[0][2] + b[0] * G[2][1] + b[1] * G[2][0];
    if (scan.stopsAt(std::fabs(P.s(15)) - r - t, 15))
        return 15;

    return scan.finish(ioBound);
}

inline int CtvxProximityKernels::boxBoxSeparation(float const* inA, float const* inB, CtvxMat4 const& inR,
                                                  float inTolerance, bool inDistanceMode, float& ioBound)
{
    Placement<float> P;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            P.B[i][j] = inR(i, j);
            P.F[i][j] = std::fabs(P.B[i][j]);
            P.G[i][j] = P.F[i][j] + RotationSlack;
        }
        P.T[i] = inR(i, 3);
    }
    return boxBoxScan(inA, inB, P, inTolerance, inDistanceMode, ioBound);
}

inline void CtvxProximityKernels::ComposedPlacement::reach(int axis)
{
    switch (axis) {
    case 1:
        element(0, 0);
        element(0, 1);
        element(0, 2);
        translation(0);
        break;
    case 2:
        element(1, 0);
        element(2, 0);
        translation(1);
        translation(2);
        break;
    case 3:
        element(1, 1);
        element(1, 2);
        break;
    case 4:
        element(2, 1);
        element(2, 2);
        break;
    default:
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                G[i][j] = F[i][j] + RotationSlack;
        break;
    }
}

inline int CtvxProximityKernels::boxBoxSeparation(float const* inA, float const* inB, float const (&inToBox1)[3][4],
                                                  float const (&inPlace2)[3][4], float inTolerance,
                                                  bool inDistanceMode, float& ioBound)
{
    ComposedPlacement P;
    P.L = inToBox1;
    P.M = inPlace2;
    return boxBoxScan(inA, inB, P, inTolerance, inDistanceMode, ioBound);
}

inline int CtvxProximityKernels::boxBoxSeparation(float const* inA, float const* inB, CqarMat4 const& inR,
                                                  bool inDistanceMode, float& ioBound)
{
    Placement<double> P;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            P.B[i][j] = inR(i, j);
            P.F[i][j] = static_cast<float>(std::fabs(P.B[i][j])) + RotationSlack;
            P.G[i][j] = P.F[i][j];
        }
        P.T[i] = inR(i, 3);
    }
    return boxBoxScan(inA, inB, P, 0.0f, inDistanceMode, ioBound);
}

namespace tvxkernels_lanes {

// Row i of an affine product l * m, (c0, c1, c2, translation), as CtvxMat4's
// product rounds it: the three products summed left to right, then the
// translation; adding -0 leaves the other lanes as they are, -0 included.
inline tvx_lanes::Float4 productRow(float const* l, tvx_lanes::Float4 m0, tvx_lanes::Float4 m1,
                                    tvx_lanes::Float4 m2)
{
    using tvx_lanes::Float4;
    return Float4::broadcast(l[0]) * m0 + Float4::broadcast(l[1]) * m1 + Float4::broadcast(l[2]) * m2 +
           Float4::set(-0.0f, -0.0f, -0.0f, l[3]);
}

} // namespace tvxkernels_lanes

inline void CtvxProximityKernels::composeRows(float const* l, float const* m, float* out)
{
    using tvx_lanes::Float4;
    Float4 const m0 = Float4::load(m);
    Float4 const m1 = Float4::load(m + 4);
    Float4 const m2 = Float4::load(m + 8);
    for (int i = 0; i < 3; ++i)
        tvxkernels_lanes::productRow(l + 4 * i, m0, m1, m2).store(out + 4 * i);
}

inline bool CtvxProximityKernels::boxesOverlap(float const* inA, float const* inB, float const (&inToBox1)[3][4],
                                              float const (&inPlace2)[3][4], float inTolerance)
{
    using tvx_lanes::Float4;
    using tvxkernels_lanes::productRow;
    // Row i of the relative placement: (B[i][0], B[i][1], B[i][2], T[i]).
    Float4 const m0 = Float4::load(inPlace2[0]);
    Float4 const m1 = Float4::load(inPlace2[1]);
    Float4 const m2 = Float4::load(inPlace2[2]);
    Float4 const r0 = productRow(inToBox1[0], m0, m1, m2);
    Float4 const r1 = productRow(inToBox1[1], m0, m1, m2);
    Float4 const r2 = productRow(inToBox1[2], m0, m1, m2);
    Float4 const f0 = abs(r0);
    Float4 const f1 = abs(r1);
    Float4 const f2 = abs(r2);
    Float4 const t = Float4::broadcast(inTolerance);
    Float4 const zero = Float4::broadcast(0.0f);
    // Separated where lane 0, 1 or 2 of (|s| - r) - t is positive; lane 3
    // carries the translation column along and is not an axis.
    auto apart = [&](Float4 s, Float4 r) { return (tvx_lanes::laneBits(abs(s) - r - t > zero) & 7) != 0; };

    // Box a's faces (codes 1, 3, 4), lane i its axis i: the columns of F.
    Float4 c0 = f0, c1 = f1, c2 = f2, c3 = zero;
    tvx_lanes::transpose(c0, c1, c2, c3);
    Float4 const a = Float4::set(inA[0], inA[1], inA[2], 0.0f);
    if (apart(c3, a + Float4::broadcast(inB[0]) * c0 + Float4::broadcast(inB[1]) * c1 +
                      Float4::broadcast(inB[2]) * c2))
        return false;
    // Box b's faces (codes 2, 5, 6), lane j its axis j: the rows of F.
    Float4 const b = Float4::set(inB[0], inB[1], inB[2], 0.0f);
    Float4 const a0 = Float4::broadcast(inA[0]);
    Float4 const a1 = Float4::broadcast(inA[1]);
    Float4 const a2 = Float4::broadcast(inA[2]);
    Float4 const t0 = r0.permute<3, 3, 3, 3>();
    Float4 const t1 = r1.permute<3, 3, 3, 3>();
    Float4 const t2 = r2.permute<3, 3, 3, 3>();
    if (apart(t0 * r0 + t1 * r1 + t2 * r2, b + a0 * f0 + a1 * f1 + a2 * f2))
        return false;
    // The cross products Ai x Bj (codes 7 to 15), lane j for three j at a
    // time: box b's two half-lengths other than j, against the two
    // elements of the G row of i that the scan pairs them with.
    Float4 const slack = Float4::broadcast(RotationSlack);
    Float4 const g0 = f0 + slack;
    Float4 const g1 = f1 + slack;
    Float4 const g2 = f2 + slack;
    Float4 const bx = b.permute<1, 0, 0, 3>();
    Float4 const by = b.permute<2, 2, 1, 3>();
    auto cross = [&](Float4 ga, Float4 gb, Float4 gi, Float4 p, Float4 q) {
        return p * ga + q * gb + bx * gi.permute<2, 2, 1, 3>() + by * gi.permute<1, 0, 0, 3>();
    };
    if (apart(t2 * r1 - t1 * r2, cross(g2, g1, g0, a1, a2)))
        return false;
    if (apart(t0 * r2 - t2 * r0, cross(g2, g0, g1, a0, a2)))
        return false;
    return !apart(t1 * r0 - t0 * r1, cross(g1, g0, g2, a0, a1));
}

namespace tvxkernels_lanes {

// The separation along the plane axis of a box-triangle test, (e0, e1) two
// edges of the triangle, m its largest coordinate magnitude: as the scan
// computes it, shared so that the scan and the lanes take it alike.
inline float planeSeparation(float const* e0, float const* e1, float const* inP0, float const* inP1,
                             float const* inP2, float const* inH, float t, float m)
{
    float w[3] = {e0[1] * e1[2] - e0[2] * e1[1], e0[2] * e1[0] - e0[0] * e1[2], e0[0] * e1[1] - e0[1] * e1[0]};
    float const wl = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    w[0] = w[0] / wl;
    w[1] = w[1] / wl;
    w[2] = w[2] / wl;
    float const P0 = w[0] * inP0[0] + w[1] * inP0[1] + w[2] * inP0[2];
    float const d = -P0;
    float const r = std::fabs(w[0]) * inH[0] + std::fabs(w[1]) * inH[1] + std::fabs(w[2]) * inH[2];
    float s = d - r - t;
    if (!(s > 0.0f))
        s = -d - r - t;

    // The plane offset comes from p0 alone, which is right while the other
    // two vertices project where p0 does. For a sliver the computed normal
    // is dominated by rounding and need not even be perpendicular to the
    // edges, so p1 or p2 can sit well off "the plane" and the separation
    // would overstate the gap (a box touching the sliver could be pruned).
    // When the vertices spread along w by more than rounding explains, the
    // whole projected interval is used instead.
    float const P1 = w[0] * inP1[0] + w[1] * inP1[1] + w[2] * inP1[2];
    float const P2 = w[0] * inP2[0] + w[1] * inP2[1] + w[2] * inP2[2];
    if (std::fabs(P1 - P0) > CtvxProximityKernels::PlaneSpread * m ||
        std::fabs(P2 - P0) > CtvxProximityKernels::PlaneSpread * m) {
        float const pmin = std::fmin(P0, std::fmin(P1, P2));
        float const pmax = std::fmax(P0, std::fmax(P1, P2));
        s = pmin - r - t;
        if (!(s > 0.0f))
            s = -r - pmax - t;
    }
    return s;
}

// -x lane by lane, the sign of a zero flipped as the scan's negation flips
// it.
inline tvx_lanes::Float4 negated(tvx_lanes::Float4 x)
{
    return negateWhere(tvx_lanes::Mask4::lanes(15), x);
}

// The separation of two intervals, [lo, hi] and the box's [-r, r], less
// the tolerance t, as the box-triangle scan forms it: the gap above the
// box, or where that is not positive the gap below.
inline tvx_lanes::Float4 intervalSeparation(tvx_lanes::Float4 lo, tvx_lanes::Float4 hi, tvx_lanes::Float4 r,
                                            tvx_lanes::Float4 t)
{
    using tvx_lanes::Float4;
    Float4 const above = lo - r - t;
    Float4 const below = negated(r) - hi - t;
    return select(above > Float4::broadcast(0.0f), above, below);
}

} // namespace tvxkernels_lanes

// Box-triangle axes in order: the box faces (codes 10, 11, 12), the nine
// products of a box axis with a unit edge direction (1..9), the triangle's
// plane (13). Along every axis the separation is the gap between the two
// projections; the triangle's projection needs only two vertices on the
// edge axes because the edge's two ends project alike.
inline int CtvxProximityKernels::boxTriangleSeparation(float const* inP0, float const* inP1, float const* inP2,
                                                       float const* inH, float inTolerance, bool inDistanceMode,
                                                       float& ioBound)
{
    Scan scan{inDistanceMode, ioBound, 0.0f, 0};
    // Every projection below is off by a few roundings of the largest
    // vertex coordinate m (the vertex's own mapping into the box frame, then
    // the projection). The tree's boxes keep a margin for the rounding of
    // coordinates near them; a vertex far beyond the box (a long sliver
    // reaching across the scene) brings an error of its own size, which a
    // separation must exceed before it prunes.
    float m = 0.0f;
    for (int i = 0; i < 3; ++i) {
        float const a = std::fabs(inP0[i]), b = std::fabs(inP1[i]), c = std::fabs(inP2[i]);
        m = a > m ? a : m;
        m = b > m ? b : m;
        m = c > m ? c : m;
    }
    float const allow = FarVertexRounding * m;
    float const t = inTolerance;

    for (int k = 0; k < 3; ++k) {
        float mn = inP0[k];
        float mx = inP0[k];
        if (inP1[k] < mn)
            mn = inP1[k];
        if (inP1[k] > mx)
            mx = inP1[k];
        if (inP2[k] < mn)
            mn = inP2[k];
        if (inP2[k] > mx)
            mx = inP2[k];
        float s = mn - inH[k] - t;
        if (!(s > 0.0f))
            s = -inH[k] - mx - t;
        if (scan.stopsAtWithin(s, 10 + k, allow))
            return 10 + k;
    }

    float e[3][3];
    float u[3][3];
    for (int i = 0; i < 3; ++i) {
        e[0][i] = inP1[i] - inP0[i];
        e[1][i] = inP2[i] - inP1[i];
        e[2][i] = inP0[i] - inP2[i];
    }
    for (int k = 0; k < 3; ++k) {
        float const len = std::sqrt(e[k][0] * e[k][0] + e[k][1] * e[k][1] + e[k][2] * e[k][2]);
        u[k][0] = e[k][0] / len;
        u[k][1] = e[k][1] / len;
        u[k][2] = e[k][2] / len;
    }

    // Coordinate axis c crossed with edge direction k: (c, k) gives code
    // 3c + k + 1. Its two nonzero components and the vertex it projects
    // besides p0 (p2 for edges 0 and 1, p1 for edge 2).
    for (int c = 0; c < 3; ++c) {
        int const i1 = (c + 1) % 3;
        int const i2 = (c + 2) % 3;
        for (int k = 0; k < 3; ++k) {
            // X x u = (0, -uz, uy), Y x u = (uz, 0, -ux), Z x u = (-uy, ux, 0):
            // component i1 is -u[i2] and component i2 is u[i1].
            float const L1 = -u[k][i2];
            float const L2 = u[k][i1];
            float const* const other = k == 2 ? inP1 : inP2;
            float const pa = L1 * inP0[i1] + L2 * inP0[i2];
            float const pb = L1 * other[i1] + L2 * other[i2];
            float const pmin = pa < pb ? pa : pb;
            float const pmax = pa < pb ? pb : pa;
            float const r = std::fabs(L1) * inH[i1] + std::fabs(L2) * inH[i2];
            float s = pmin - r - t;
            if (!(s > 0.0f))
                s = -r - pmax - t;
            int const code = 3 * c + k + 1;
            if (scan.stopsAtWithin(s, code, allow))
                return code;
        }
    }

    float const s = tvxkernels_lanes::planeSeparation(e[0], e[1], inP0, inP1, inP2, inH, t, m);
    if (scan.stopsAtWithin(s, 13, allow))
        return 13;

    return scan.finish(ioBound);
}

namespace tvxkernels_lanes {

// The three edge axes of box axis c (i1 = c + 1 and i2 = c + 2, modulo 3),
// lane k edge k: the components -u[i2] and u[i1], projecting p0 and the
// `other` vertex of each edge (p2 for edges 0 and 1, p1 for edge 2); their
// separations as the scan forms them.
template <int I1, int I2>
inline tvx_lanes::Float4 edgeSeparations(tvx_lanes::Float4 const (&u)[3], tvx_lanes::Float4 p0,
                                         tvx_lanes::Float4 const (&other)[3], tvx_lanes::Float4 h,
                                         tvx_lanes::Float4 t)
{
    using tvx_lanes::Float4;
    Float4 const L1 = negated(u[I2]);
    Float4 const L2 = u[I1];
    Float4 const pa = L1 * p0.permute<I1, I1, I1, I1>() + L2 * p0.permute<I2, I2, I2, I2>();
    Float4 const pb = L1 * other[I1] + L2 * other[I2];
    Float4 const r = abs(L1) * h.permute<I1, I1, I1, I1>() + abs(L2) * h.permute<I2, I2, I2, I2>();
    return intervalSeparation(min(pa, pb), max(pb, pa), r, t);
}

// The index of the lowest set bit of a nonzero three-bit lane mask.
inline int lowestLane(int bits)
{
    return (bits & 1) ? 0 : ((bits & 2) ? 1 : 2);
}

// The box-triangle scan on the vertices in lanes 0 to 2 (lane 3 is never
// read as an axis): the separations of its thirteen axes, each lane
// computing what the scan computes for its axis with the same operations
// in the same order, handed to `stage` in the scan's order, three at a
// time: stage(s, lanes, code, allow), with lane k of s the axis of code
// `code` + k for each bit k of `lanes`, and the rounding allowance in every
// lane. A stage returns the code the scan stops at, or 0 to go on; the
// scan returns it, or 0 when no stage stopped.
template <typename Stage>
inline int scanBoxTriangle(tvx_lanes::Float4 p0, tvx_lanes::Float4 p1, tvx_lanes::Float4 p2, float const* inH,
                           float inTolerance, Stage& stage)
{
    using tvx_lanes::Float4;
    Float4 const zero = Float4::broadcast(0.0f);
    Float4 const h = Float4::set(inH[0], inH[1], inH[2], 0.0f);
    // The largest coordinate magnitude, NaNs passed over as the scan's
    // comparisons pass them over; the order of a maximum does not matter.
    Float4 const mv = max(abs(p2), max(abs(p1), max(abs(p0), zero)));
    float lanes[4];
    mv.store(lanes);
    float m = lanes[0];
    m = lanes[1] > m ? lanes[1] : m;
    m = lanes[2] > m ? lanes[2] : m;
    float const allowScalar = CtvxProximityKernels::FarVertexRounding * m;
    Float4 const allow = Float4::broadcast(allowScalar);
    Float4 const t = Float4::broadcast(inTolerance);

    // The box faces (codes 10 to 12), lane k its axis k: min and max taken
    // as the scan's comparisons take them, vertex after vertex.
    Float4 const lo = min(p2, min(p1, p0));
    Float4 const hi = max(p2, max(p1, p0));
    if (int const code = stage(intervalSeparation(lo, hi, h, t), 7, 10, allow))
        return code;

    // The edges, and lane k of ex, ey, ez edge k; the unit directions.
    Float4 const e0 = p1 - p0, e1 = p2 - p1, e2 = p0 - p2;
    Float4 ex = e0, ey = e1, ez = e2, ew = zero;
    tvx_lanes::transpose(ex, ey, ez, ew);
    Float4 const len = sqrt(ex * ex + ey * ey + ez * ez);
    Float4 const u[3] = {ex / len, ey / len, ez / len};
    Float4 ox = p2, oy = p2, oz = p1, ow = zero;
    tvx_lanes::transpose(ox, oy, oz, ow);
    Float4 const other[3] = {ox, oy, oz};
    // Box axis c crossed with edge k (codes 3c + k + 1).
    if (int const code = stage(edgeSeparations<1, 2>(u, p0, other, h, t), 7, 1, allow))
        return code;
    if (int const code = stage(edgeSeparations<2, 0>(u, p0, other, h, t), 7, 4, allow))
        return code;
    if (int const code = stage(edgeSeparations<0, 1>(u, p0, other, h, t), 7, 7, allow))
        return code;

    // The triangle's plane (code 13), in lane 0.
    float P[3][4], e[2][4];
    p0.store(P[0]);
    p1.store(P[1]);
    p2.store(P[2]);
    e0.store(e[0]);
    e1.store(e[1]);
    return stage(Float4::broadcast(planeSeparation(e[0], e[1], P[0], P[1], P[2], inH, inTolerance, m)), 1, 13,
                 allow);
}

// The overlap verdict on the vertices in lanes: no axis apart by more than
// its allowance.
inline bool boxTriangleOverlap(tvx_lanes::Float4 p0, tvx_lanes::Float4 p1, tvx_lanes::Float4 p2, float const* inH,
                               float inTolerance)
{
    auto firstApart = [](tvx_lanes::Float4 s, int lanes, int code, tvx_lanes::Float4 allow) {
        int const apart = tvx_lanes::laneBits(s > allow) & lanes;
        return apart != 0 ? code + lowestLane(apart) : 0;
    };
    return scanBoxTriangle(p0, p1, p2, inH, inTolerance, firstApart) == 0;
}

// CtvxProximityKernels::Scan::stopsAtWithin for three axes at a time: the
// first axis in the scan's order that stops the scan, else the largest
// separation so far, an earlier axis kept on a tie.
struct ScanInLanes {
    bool distanceMode;
    float bound;
    float best;
    int result;

    int operator()(tvx_lanes::Float4 s, int lanes, int code, tvx_lanes::Float4 allow)
    {
        using tvx_lanes::Float4;
        int const apart = tvx_lanes::laneBits(s > allow) & lanes;
        if (apart == 0)
            return 0;
        int const stops = distanceMode ? tvx_lanes::laneBits(s - allow > Float4::broadcast(bound)) & apart : apart;
        if (stops != 0)
            return code + lowestLane(stops);
        // The largest separation of the stage, in every lane: the lanes not
        // apart read as 0, below any separation apart (which exceeds an
        // allowance of 0 or more) and never above the best, which starts
        // at 0.
        Float4 const kept = select((s > allow) & tvx_lanes::Mask4::lanes(lanes), s, Float4::broadcast(0.0f));
        Float4 const pairs = max(kept, kept.permute<1, 0, 3, 2>());
        Float4 const top = max(pairs, pairs.permute<2, 3, 0, 1>());
        float v[4];
        top.store(v);
        if (v[0] > best) {
            best = v[0];
            result = code + lowestLane(tvx_lanes::laneBits(kept == top) & apart);
        }
        return 0;
    }
};

} // namespace tvxkernels_lanes

namespace tvxkernels_lanes {

// CtvxProximityKernels::boxTriangleSeparation on the vertices in lanes.
inline int boxTriangleSeparation(tvx_lanes::Float4 p0, tvx_lanes::Float4 p1, tvx_lanes::Float4 p2, float const* inH,
                                 float inTolerance, bool inDistanceMode, float& ioBound)
{
    ScanInLanes scan{inDistanceMode, ioBound, 0.0f, 0};
    if (int const code = scanBoxTriangle(p0, p1, p2, inH, inTolerance, scan))
        return code;
    if (scan.result != 0 && inDistanceMode)
        ioBound = scan.best;
    return scan.result;
}

// The columns of the top three rows of an affine map (stride 4, as CtvxMat4
// stores them), lane i row i, the translation in the fourth.
struct MapColumns {
    tvx_lanes::Float4 c[4];

    explicit MapColumns(float const* inRows)
    {
        c[0] = tvx_lanes::Float4::load(inRows);
        c[1] = tvx_lanes::Float4::load(inRows + 4);
        c[2] = tvx_lanes::Float4::load(inRows + 8);
        c[3] = tvx_lanes::Float4::broadcast(0.0f);
        tvx_lanes::transpose(c[0], c[1], c[2], c[3]);
    }
    // A point placed as PmM places it, ((m[i][0] x + m[i][1] y) + m[i][2] z)
    // + m[i][3]; lane 3 is 0.
    tvx_lanes::Float4 place(float const (&v)[3]) const
    {
        using tvx_lanes::Float4;
        return c[0] * Float4::broadcast(v[0]) + c[1] * Float4::broadcast(v[1]) + c[2] * Float4::broadcast(v[2]) +
               c[3];
    }
    // A direction turned by the rotation, (m[i][0] x + m[i][1] y) + m[i][2] z.
    tvx_lanes::Float4 turn(float const* a) const
    {
        using tvx_lanes::Float4;
        return c[0] * Float4::broadcast(a[0]) + c[1] * Float4::broadcast(a[1]) + c[2] * Float4::broadcast(a[2]);
    }
};

} // namespace tvxkernels_lanes

inline int CtvxProximityKernels::boxTriangleSeparationInLanes(float const* inP0, float const* inP1, float const* inP2,
                                                              float const* inH, float inTolerance,
                                                              bool inDistanceMode, float& ioBound)
{
    using tvx_lanes::Float4;
    return tvxkernels_lanes::boxTriangleSeparation(
        Float4::set(inP0[0], inP0[1], inP0[2], 0.0f), Float4::set(inP1[0], inP1[1], inP1[2], 0.0f),
        Float4::set(inP2[0], inP2[1], inP2[2], 0.0f), inH, inTolerance, inDistanceMode, ioBound);
}

inline bool CtvxProximityKernels::boxTriangleOverlap(float const* inP0, float const* inP1, float const* inP2,
                                                    float const* inH, float inTolerance)
{
    using tvx_lanes::Float4;
    return tvxkernels_lanes::boxTriangleOverlap(Float4::set(inP0[0], inP0[1], inP0[2], 0.0f),
                                                Float4::set(inP1[0], inP1[1], inP1[2], 0.0f),
                                                Float4::set(inP2[0], inP2[1], inP2[2], 0.0f), inH, inTolerance);
}

inline bool CtvxProximityKernels::boxTriangleOverlap(float const (&inTri)[3][3], float const* inRows,
                                                    float const* inH, float inTolerance)
{
    // Each vertex placed as PmM places it.
    tvxkernels_lanes::MapColumns const map(inRows);
    return tvxkernels_lanes::boxTriangleOverlap(map.place(inTri[0]), map.place(inTri[1]), map.place(inTri[2]), inH,
                                                inTolerance);
}

// The separation lower bounds, defined where the walks see them.
#include <tvx/analysis/internal/CtvxSeparationBounds.h>
