// Side-by-side comparison with FCL: the same two meshes, the same poses, one
// process. Every pose is answered by our four query types and by FCL's
// first-contact and all-contacts collision (OBB and OBBRSS trees) and its
// distance with nearest points (RSS and OBBRSS trees); the answers are checked
// against each other and the times tabulated.
//
//   peer_compare [options] MESH_A MESH_B     two mesh files (any format the tvx tool reads)
//   peer_compare [options] --shared DIR NAME_A NAME_B
//                                            the same, names taken relative to DIR
//   peer_compare [options] --procedural N    a torus against a sphere, about N triangles each
//   peer_compare [options]                   procedural at 10^3, 10^4 and 10^5 triangles
//
// Options: --poses N (200), --seed S (1), --coherent (B moves along a smooth
// path in N small steps instead of jumping between random poses),
// --shared-hints (all four query types on one copy of each polyhedron, so
// they overwrite each other's last-closest hints; by default each type has
// its own copy), --plain-walk (our trees walked in the plain recursive order,
// without cached placements or nearest-first ordering: the same answers, for
// measuring what the faster walks gain), --cold (contact queries timed on
// their first run at a pose rather than their second), --scale-free-axes
// (our trees built with the opt-in of
// CtvxPolyhedronOBBTreeFactory::scaleFreeAxes).
//
// Exit status 0 when every answer agreed, 3 when any did not (the tests run
// it so on small scenes), 1 for an unreadable mesh, 2 for bad usage. The
// pairs in contact are compared as lists; a pair in one list and not in
// another is printed with its exact verdict, and only a pair whose exact
// clearance or depth exceeds the rounding of our placement counts as a
// disagreement (see exactVerdict).
//
// Pose recipe (random mode). B's box centre is put at A's box centre plus s
// along a random unit direction u, B turned by a uniform random rotation about
// its own box centre. Walking s down from the sum of the two box half
// diagonals in 64 steps finds the first s where FCL (OBBRSS) sees a contact;
// 30 bisections narrow it to the touching offset s0. Even poses sit at
// s0 - depth (depth log-uniform in [0.002, 0.1] * rB, rB = B's box half
// diagonal), odd poses at s0 + gap, the gap log-uniform in one of four bands
// taken in turn (odd pose 2k + 1 in band k mod 4): near misses, [1e-4, 0.03]
// * rB; and three shells around A measured in R = rA + rB, the two box half
// diagonals summed: [1e-4, 0.01] R, [0.01, 0.2] R (where a planner or a
// clearance check works) and [0.2, 1] R. Times are reported per band. A
// direction along which B never touches A is drawn again. Pose i uses the
// 64-bit Mersenne twister seeded with seed * 1000003 + i, so any pose can be
// regenerated on its own. --band near|fine|working|far runs only the
// separated poses of one band (the same poses as in a full run), a small
// fixed workload for instruction counts.
//
// Coherent mode: one direction and rotation axis (pose 0's draw), and B moves
// from s0 + 0.45 rB to s0 - 0.05 rB and back (cosine in the step) while it
// turns half a radian about the axis; a separated step is filed in the band
// its offset s - s0 falls in. Our analyses are kept across the steps,
// so the last-closest hints of the previous step serve the next; FCL's
// distance query starts afresh at each step.
//
// Timing: random mode runs each query once per pose (the previous pose's hints
// are of no use to ours, since poses are unrelated), medians over the poses
// where the reference answer is contact ("colliding"), where it is not
// ("separated", all bands), and over each band of separated poses. Coherent
// mode: one query per step, same medians. The contact queries are timed on
// their second run at a pose (see warmContacts), where ours finds B where
// the first run left it; "first moved" times first contact with B moved
// just before it (ours: absolutePosition() and compute(); FCL: collide()
// with the new transform), as a planner or a simulation queries.
//
// Tree bytes. Ours: boxes * sizeof(CtvxOBB), the whole tree (triangles stay in
// the polyhedron's own arrays, which the host owns anyway). FCL: BVH nodes *
// sizeof(BVNode<BV>) plus the primitive index array FCL keeps beside them (4
// bytes a triangle), read from the built model; "+mesh" also counts the copy of
// vertices (3 doubles) and triangles (3 ints) FCL keeps in the model.
#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronBVTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tests/support/AnalysisProbe.h>
#include <tests/support/ExactOracle.h>
#include <tests/support/Meshes.h>
#include <tools/import/MeshImport.h>
#include <tools/import/PolyhedronFromMesh.h>

#include <fcl/fcl.h>

#include <bench/FclPlacement.h>

#include <qar/CqarMat4.h>
#include <qar/CqarVect3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Contact queries of both libraries run twice at a pose and the second run
// is timed, so that neither pays for bringing its tree into the caches
// (each of our query types has its own copy of the meshes, while FCL's
// queries share models, some of them just used to place the pose). --cold
// times the first run instead.
bool warmContacts = true;

// The order our pairs walk their trees in: --plain-walk for the plain
// recursive one.
CtvxWalk ourWalk = CtvxWalk::Ordered;

double microsecondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

// Uniform in [0, 1) from the top 53 bits: the same on every platform, unlike
// the standard distributions.
double uniform01(std::mt19937_64& rng)
{
    return static_cast<double>(rng() >> 11) * (1.0 / 9007199254740992.0);
}

double logUniform(std::mt19937_64& rng, double lo, double hi)
{
    return lo * std::exp(uniform01(rng) * std::log(hi / lo));
}

struct Rigid {
    double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double t[3] = {0, 0, 0};
};

// Rotation of angle a about unit axis k.
void axisAngle(double const k[3], double a, double r[3][3])
{
    double const c = std::cos(a), s = std::sin(a), v = 1.0 - c;
    r[0][0] = c + k[0] * k[0] * v;
    r[0][1] = k[0] * k[1] * v - k[2] * s;
    r[0][2] = k[0] * k[2] * v + k[1] * s;
    r[1][0] = k[1] * k[0] * v + k[2] * s;
    r[1][1] = c + k[1] * k[1] * v;
    r[1][2] = k[1] * k[2] * v - k[0] * s;
    r[2][0] = k[2] * k[0] * v - k[1] * s;
    r[2][1] = k[2] * k[1] * v + k[0] * s;
    r[2][2] = c + k[2] * k[2] * v;
}

void randomUnit(std::mt19937_64& rng, double u[3])
{
    double const z = 2.0 * uniform01(rng) - 1.0, phi = 2.0 * M_PI * uniform01(rng);
    double const rho = std::sqrt(std::max(0.0, 1.0 - z * z));
    u[0] = rho * std::cos(phi);
    u[1] = rho * std::sin(phi);
    u[2] = z;
}

struct Body {
    std::string name;
    tvxio::MeshPart mesh;
    double centre[3] = {0, 0, 0};
    double halfDiagonal = 0;
};

void measure(Body& b)
{
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (std::size_t i = 0; i < b.mesh.points.size(); ++i) {
        lo[i % 3] = std::min(lo[i % 3], double(b.mesh.points[i]));
        hi[i % 3] = std::max(hi[i % 3], double(b.mesh.points[i]));
    }
    double d2 = 0;
    for (int k = 0; k < 3; ++k) {
        b.centre[k] = 0.5 * (lo[k] + hi[k]);
        d2 += (hi[k] - lo[k]) * (hi[k] - lo[k]);
    }
    b.halfDiagonal = 0.5 * std::sqrt(d2);
}

tvxio::MeshPart fromProcedural(tvxtest::Mesh const& m)
{
    tvxio::MeshPart part;
    for (auto const& p : m.points)
        for (double c : p)
            part.points.push_back(static_cast<float>(c));
    for (auto const& t : m.triangles)
        for (unsigned i : t)
            part.triangles.push_back(i);
    return part;
}

// FCL's model of one mesh, built with bounding volume BV; the build is timed.
template <class BV>
std::shared_ptr<fcl::BVHModel<BV>> fclModel(tvxio::MeshPart const& m, double& buildMs)
{
    auto const t0 = Clock::now();
    std::vector<fcl::Vector3d> v(m.countPoints());
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = fcl::Vector3d(m.points[3 * i], m.points[3 * i + 1], m.points[3 * i + 2]);
    std::vector<fcl::Triangle> t(m.countTriangles());
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = fcl::Triangle(m.triangles[3 * i], m.triangles[3 * i + 1], m.triangles[3 * i + 2]);
    auto model = std::make_shared<fcl::BVHModel<BV>>();
    model->beginModel(static_cast<int>(t.size()), static_cast<int>(v.size()));
    model->addSubModel(v, t);
    model->endModel();
    buildMs = microsecondsSince(t0) / 1000.0;
    return model;
}

template <class BV>
void fclBytes(fcl::BVHModel<BV> const& m, double& tree, double& withMesh)
{
    tree = double(m.getNumBVs()) * sizeof(fcl::BVNode<BV>) + double(m.num_tris) * sizeof(unsigned int);
    withMesh = tree + double(m.num_vertices) * sizeof(fcl::Vector3d) + double(m.num_tris) * sizeof(fcl::Triangle);
}

// Our side. Each query type gets its own copy of the two polyhedra (unless
// hints are shared): a polyhedron keeps the last-closest hint of whatever
// query ran on it last, and a collision query leaves there the last triangle
// pair it tested, which is no help to the next distance query. A host that
// re-queries distances keeps them apart the same way.
struct Ours {
    boost::shared_ptr<CtvxPolyhedron> a[4], b[4];
    boost::shared_ptr<CtvxAnalysis> an[4];
    double buildMs = 0;
    double treeBytes = 0;
    int copies = 4;

    void make(Body const& A, Body const& B, bool sharedHints)
    {
        copies = sharedHints ? 1 : 4;
        boost::shared_ptr<CtvxProgressDelegate> none;
        for (int k = 0; k < copies; ++k) {
            a[k] = tvxio::makePolyhedron(A.mesh);
            b[k] = tvxio::makePolyhedron(B.mesh);
            auto const t0 = Clock::now();
            a[k]->makeCollisionEntity(none);
            b[k]->makeCollisionEntity(none);
            // The first copy's build is the one reported.
            if (k == 0)
                buildMs = microsecondsSince(t0) / 1000.0;
        }
        treeBytes = bytes(a[0]) + bytes(b[0]);
        for (int k = 0; k < 4; ++k) {
            int const c = k % copies;
            boost::shared_ptr<CtvxCollisionList> l1 = CtvxCollisionList::create(), l2 = CtvxCollisionList::create();
            l1->add(a[c]);
            l2->add(b[c]);
            an[k] = CtvxAnalysis::create();
            an[k]->setCollisionList1(l1);
            an[k]->setCollisionList2(l2);
            an[k]->setAnalysisType(CtvxAnalysis::EAnalysisType(k));
            tvxtest::AnalysisProbe::plainWalk(*an[k], ourWalk == CtvxWalk::Plain);
        }
    }

    static double bytes(boost::shared_ptr<CtvxPolyhedron> const& p)
    {
        CtvxPolyhedronBVTree* bv = nullptr;
        if (p->getBoundingVolumes(bv) != 0)
            return 0;
        auto const* tree = dynamic_cast<CtvxPolyhedronOBBTree const*>(bv);
        return tree ? double(tree->countObbs()) * sizeof(CtvxOBB) : 0.0;
    }

    static CqarMat4 placement(Rigid const& pose)
    {
        CqarMat4 m;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m(i, j) = pose.r[i][j];
            m(i, 3) = pose.t[i];
        }
        return m;
    }

    void place(Rigid const& pose)
    {
        CqarMat4 const m = placement(pose);
        for (int k = 0; k < copies; ++k)
            b[k]->absolutePosition(m);
    }
};

struct Fcl {
    std::shared_ptr<fcl::BVHModel<fcl::OBB<double>>> obbA, obbB;
    std::shared_ptr<fcl::BVHModel<fcl::OBBRSS<double>>> obbrssA, obbrssB;
    std::shared_ptr<fcl::BVHModel<fcl::RSS<double>>> rssA, rssB;
    double buildMs[3] = {0, 0, 0}; // OBB, OBBRSS, RSS
    double treeBytes[3] = {0, 0, 0}, meshBytes[3] = {0, 0, 0};

    void make(Body const& A, Body const& B)
    {
        double t1 = 0, t2 = 0;
        obbA = fclModel<fcl::OBB<double>>(A.mesh, t1);
        obbB = fclModel<fcl::OBB<double>>(B.mesh, t2);
        buildMs[0] = t1 + t2;
        obbrssA = fclModel<fcl::OBBRSS<double>>(A.mesh, t1);
        obbrssB = fclModel<fcl::OBBRSS<double>>(B.mesh, t2);
        buildMs[1] = t1 + t2;
        rssA = fclModel<fcl::RSS<double>>(A.mesh, t1);
        rssB = fclModel<fcl::RSS<double>>(B.mesh, t2);
        buildMs[2] = t1 + t2;
        double x = 0, y = 0;
        fclBytes(*obbA, treeBytes[0], meshBytes[0]);
        fclBytes(*obbB, x, y);
        treeBytes[0] += x;
        meshBytes[0] += y;
        fclBytes(*obbrssA, treeBytes[1], meshBytes[1]);
        fclBytes(*obbrssB, x, y);
        treeBytes[1] += x;
        meshBytes[1] += y;
        fclBytes(*rssA, treeBytes[2], meshBytes[2]);
        fclBytes(*rssB, x, y);
        treeBytes[2] += x;
        meshBytes[2] += y;
    }
};

// Large enough that FCL never stops collecting before the last pair.
constexpr std::size_t kAllContacts = 100000000;

template <class BV>
bool fclCollides(std::shared_ptr<fcl::BVHModel<BV>> const& a, std::shared_ptr<fcl::BVHModel<BV>> const& b,
                 fcl::Transform3d const& tb, bool all, std::size_t& pairs)
{
    // Without contact details FCL records one contact per intersecting
    // triangle pair: the same thing our all-collisions query lists.
    fcl::CollisionRequestd req(all ? kAllContacts : 1, false);
    fcl::CollisionResultd res;
    fcl::collide(a.get(), fcl::Transform3d::Identity(), b.get(), tb, req, res);
    if (all) {
        std::set<std::pair<std::intptr_t, std::intptr_t>> distinct;
        for (std::size_t i = 0; i < res.numContacts(); ++i)
            distinct.insert({res.getContact(i).b1, res.getContact(i).b2});
        pairs = distinct.size();
    }
    return res.isCollision();
}

template <class BV>
double fclDistance(std::shared_ptr<fcl::BVHModel<BV>> const& a, std::shared_ptr<fcl::BVHModel<BV>> const& b,
                   fcl::Transform3d const& tb, fcl::Vector3d& pa, fcl::Vector3d& pb)
{
    fcl::DistanceRequestd req(true);
    fcl::DistanceResultd res;
    fcl::distance(a.get(), fcl::Transform3d::Identity(), b.get(), tb, req, res);
    pa = res.nearest_points[0];
    pb = res.nearest_points[1];
    return res.min_distance;
}

// Triangle pairs in contact (rank in A, rank in B), read untimed at a
// colliding pose to compare the lists themselves, not only their sizes.
using TrianglePairs = std::set<std::pair<long, long>>;

template <class BV>
TrianglePairs fclPairs(std::shared_ptr<fcl::BVHModel<BV>> const& a, std::shared_ptr<fcl::BVHModel<BV>> const& b,
                       fcl::Transform3d const& tb)
{
    fcl::CollisionRequestd req(kAllContacts, false);
    fcl::CollisionResultd res;
    fcl::collide(a.get(), fcl::Transform3d::Identity(), b.get(), tb, req, res);
    TrianglePairs s;
    for (std::size_t i = 0; i < res.numContacts(); ++i)
        s.insert({res.getContact(i).b1, res.getContact(i).b2});
    return s;
}

TrianglePairs ourPairs(CtvxAnalysis const& all)
{
    TrianglePairs s;
    if (all.countCollisions() == 0)
        return s;
    boost::shared_ptr<CtvxCollision> c;
    all.getCollision(0, c);
    for (unsigned int i = 0; i < c->countPairs(); ++i) {
        boost::shared_ptr<CtvxGeometrySubElement> e1, e2;
        c->getFirst(i, e1);
        c->getSecond(i, e2);
        int t1 = -1, t2 = -1;
        auto const* p1 = dynamic_cast<CtvxPolyhedronTriangle const*>(e1.get());
        auto const* p2 = dynamic_cast<CtvxPolyhedronTriangle const*>(e2.get());
        if (p1 && p2 && p1->getTriangle(t1) == 0 && p2->getTriangle(t2) == 0)
            s.insert({t1, t2});
    }
    return s;
}

// Where one triangle pair stands, decided exactly (rational arithmetic) on
// the stored floats with B at the pose as given in double, A at the
// identity: in contact or not, and how far from the other verdict: the
// clearance of a pair apart; of a pair in contact, the least overlap along
// the 17 axes that can separate two triangles (both normals, the nine
// edge-edge cross products, the six in-plane edge normals), the move along
// that axis that parts them. That is the penetration depth for triangles
// of area; a zero-area triangle drops axes, which can only make the figure
// larger, never excuse a deep contact.
struct PairVerdict {
    bool touch = false;
    double margin = 0.0;
    // How far our query's placement may move a point of B (README, "Exact
    // contact verdicts"): it maps B into A's frame (here the pose itself)
    // by a float 3x4 product, off by at most 2^-20 (2 M + |T|), M the
    // largest coordinate of B's three vertices, T the translation. Within
    // it a pair may be decided either way, by us or by FCL, which places in
    // double.
    double bound = 0.0;
    bool withinRounding = false;
};

PairVerdict exactVerdict(Body const& A, Body const& B, Rigid const& pose, long t1, long t2)
{
    float ta[3][3], tb[3][3];
    double largest = 0.0;
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 3; ++c) {
            ta[k][c] = A.mesh.points[3 * A.mesh.triangles[3 * t1 + k] + c];
            tb[k][c] = B.mesh.points[3 * B.mesh.triangles[3 * t2 + k] + c];
            largest = std::max(largest, double(std::fabs(tb[k][c])));
        }
    double m[3][4];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m[i][j] = pose.r[i][j];
        m[i][3] = pose.t[i];
    }
    tvxtest::QTri const a = tvxtest::exactTri(ta), b = tvxtest::placedTri(tb, m);
    PairVerdict v;
    v.bound = std::ldexp(2.0 * largest + std::sqrt(pose.t[0] * pose.t[0] + pose.t[1] * pose.t[1] +
                                                   pose.t[2] * pose.t[2]),
                         -20);
    mpq_class const bound2 = mpq_class(v.bound) * mpq_class(v.bound);
    mpq_class const d2 = tvxtest::squaredDistance(a, b);
    v.touch = d2 == 0;
    if (!v.touch) {
        v.margin = std::sqrt(d2.get_d());
        v.withinRounding = d2 <= bound2;
        return v;
    }
    using tvxtest::QPoint;
    auto sub = [](QPoint const& p, QPoint const& q) { return QPoint{p.x - q.x, p.y - q.y, p.z - q.z}; };
    auto cross = [](QPoint const& p, QPoint const& q) {
        return QPoint{p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
    };
    auto dot = [](QPoint const& p, QPoint const& q) { return mpq_class(p.x * q.x + p.y * q.y + p.z * q.z); };
    QPoint const ea[3] = {sub(a[1], a[0]), sub(a[2], a[1]), sub(a[0], a[2])};
    QPoint const eb[3] = {sub(b[1], b[0]), sub(b[2], b[1]), sub(b[0], b[2])};
    QPoint const na = cross(ea[0], ea[1]), nb = cross(eb[0], eb[1]);
    std::vector<QPoint> axes = {na, nb};
    for (QPoint const& e : ea)
        for (QPoint const& f : eb)
            axes.push_back(cross(e, f));
    for (QPoint const& e : ea)
        axes.push_back(cross(e, na));
    for (QPoint const& f : eb)
        axes.push_back(cross(f, nb));
    bool any = false;
    mpq_class least; // squared depth along the best axis so far
    for (QPoint const& n : axes) {
        mpq_class const nn = dot(n, n);
        if (nn == 0)
            continue;
        mpq_class lo1 = dot(n, a[0]), hi1 = lo1, lo2 = dot(n, b[0]), hi2 = lo2;
        for (int k = 1; k < 3; ++k) {
            mpq_class const p = dot(n, a[k]), q = dot(n, b[k]);
            lo1 = std::min(lo1, p);
            hi1 = std::max(hi1, p);
            lo2 = std::min(lo2, q);
            hi2 = std::max(hi2, q);
        }
        // Never negative: the pair shares a point.
        mpq_class const overlap = std::min(mpq_class(hi1 - lo2), mpq_class(hi2 - lo1));
        mpq_class const depth2 = overlap * overlap / nn;
        if (!any || depth2 < least)
            least = depth2;
        any = true;
    }
    // No axis at all (two points, or two parallel segments): not excused.
    v.margin = any ? std::sqrt(least.get_d()) : 0.0;
    v.withinRounding = any && least <= bound2;
    return v;
}

// B's placement: its box centre at A's plus s u, turned by r about it.
Rigid placeAlong(Body const& A, Body const& B, double const r[3][3], double const u[3], double s)
{
    Rigid p;
    for (int i = 0; i < 3; ++i) {
        double rc = 0;
        for (int j = 0; j < 3; ++j) {
            p.r[i][j] = r[i][j];
            rc += r[i][j] * B.centre[j];
        }
        p.t[i] = A.centre[i] + s * u[i] - rc;
    }
    return p;
}

bool touchesAt(Fcl const& f, Body const& A, Body const& B, double const r[3][3], double const u[3], double s)
{
    std::size_t unused = 0;
    return fclCollides(f.obbrssA, f.obbrssB, toFcl(placeAlong(A, B, r, u, s)), false, unused);
}

// The touching offset along u (B approaching from outside), or -1 if B never
// touches A along this direction.
double touchingOffset(Fcl const& f, Body const& A, Body const& B, double const r[3][3], double const u[3])
{
    double const far = A.halfDiagonal + B.halfDiagonal;
    int const steps = 64;
    double const step = far / steps;
    for (int k = steps - 1; k >= 0; --k) {
        double const s = k * step;
        if (touchesAt(f, A, B, r, u, s)) {
            double in = s, out = s + step;
            for (int i = 0; i < 30; ++i) {
                double const mid = 0.5 * (in + out);
                (touchesAt(f, A, B, r, u, mid) ? in : out) = mid;
            }
            return out;
        }
    }
    return -1.0;
}

struct Draw {
    double r[3][3];
    double u[3];
    double axis[3];
    double s0;
};

Draw drawDirection(Fcl const& f, Body const& A, Body const& B, std::mt19937_64& rng)
{
    Draw d{};
    for (int attempt = 0; attempt < 20; ++attempt) {
        randomUnit(rng, d.axis);
        axisAngle(d.axis, 2.0 * M_PI * uniform01(rng), d.r);
        randomUnit(rng, d.u);
        d.s0 = touchingOffset(f, A, B, d.r, d.u);
        if (d.s0 >= 0)
            return d;
    }
    std::fprintf(stderr, "peer_compare: no touching direction found in 20 draws\n");
    std::exit(1);
}

std::mt19937_64 poseRng(std::uint64_t seed, int i)
{
    return std::mt19937_64(seed * 1000003ull + static_cast<std::uint64_t>(i));
}

// Timings of one pose, microseconds; NaN where not run.
enum Kind {
    OUR_FIRST,
    OUR_ALL,
    OUR_EXACT,
    OUR_ESTIMATED,
    FCL_FIRST_OBB,
    FCL_FIRST_OBBRSS,
    FCL_ALL_OBB,
    FCL_ALL_OBBRSS,
    FCL_DIST_RSS,
    FCL_DIST_OBBRSS,
    // First contact with B placed anew before each timed query (see
    // runPose): ours the placement and the query, FCL's collide() given
    // the new transform.
    OUR_FIRST_MOVED,
    FCL_FIRST_OBB_MOVED,
    KIND_COUNT
};
char const* const kKindNames[KIND_COUNT] = {"ours first",       "ours all",         "ours exact",
                                            "ours estimated",   "fcl first OBB",    "fcl first OBBRSS",
                                            "fcl all OBB",      "fcl all OBBRSS",   "fcl dist RSS",
                                            "fcl dist OBBRSS",  "ours first moved", "fcl first OBB moved"};

double median(std::vector<double> v)
{
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    std::size_t const n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Where a pose is filed: contact, then the separated bands by B's offset
// beyond the touching one (see the pose recipe).
enum Band { COLLIDING, NEAR_MISS, SHELL_FINE, SHELL_WORKING, SHELL_FAR, BAND_COUNT };
char const* const kBandNames[BAND_COUNT] = {"colliding", "near miss", "0.01-1% R", "1-20% R", "20-100% R"};
constexpr int kSeparatedBands = BAND_COUNT - 1;
// --band: random mode runs only the separated poses of this band (a fixed,
// small workload for instruction counts); COLLIDING runs every pose.
Band onlyBand = COLLIDING;
char const* const kBandOptions[BAND_COUNT] = {"", "near", "fine", "working", "far"};

// The gap range of band b (not COLLIDING) in units of rB (near misses) or of
// R = rA + rB (the shells).
void bandGap(Band b, double rB, double R, double& lo, double& hi)
{
    switch (b) {
    case NEAR_MISS: lo = 1e-4 * rB; hi = 0.03 * rB; return;
    case SHELL_FINE: lo = 1e-4 * R; hi = 0.01 * R; return;
    case SHELL_WORKING: lo = 0.01 * R; hi = 0.2 * R; return;
    default: lo = 0.2 * R; hi = R; return;
    }
}

// The band of a separated offset (coherent mode): the first shell holding it.
Band bandOf(double gap, double R)
{
    return gap < 0.01 * R ? SHELL_FINE : gap < 0.2 * R ? SHELL_WORKING : SHELL_FAR;
}

struct Stats {
    // [band][kind]; a pose of a separated band that the reference finds in
    // contact is filed as colliding.
    std::vector<double> times[BAND_COUNT][KIND_COUNT];
    int poses[BAND_COUNT] = {0, 0, 0, 0, 0};
    int flagDisagree = 0, countDisagree = 0, distDisagree = 0, boundDisagree = 0;
    int countChecked = 0, distChecked = 0;
    // Colliding poses whose lists of pairs in contact differ only by pairs
    // within our placement's rounding of the other verdict (exactVerdict):
    // shown, not counted as disagreements.
    int countWithinRounding = 0;
    // Box and triangle tests of untimed re-runs of our exact distance on
    // separated poses: [0] from triangle 0 of each mesh as the hint, [1] from
    // the answer as the hint (the best case for the descent).
    std::vector<double> exactBoxTests[BAND_COUNT][2], exactTriTests[BAND_COUNT][2];
    // Triangle tests of our four query types over all poses, and those that
    // single precision left unsure (settled by the exact predicates or the
    // double-precision distance).
    double triangleTests[4] = {0, 0, 0, 0};
    double unsureTests[4] = {0, 0, 0, 0};
    // Box tests of our first-contact query at each pose (1: settled at the
    // roots).
    std::vector<double> firstBoxTests[BAND_COUNT];
};

void printPose(Rigid const& p)
{
    std::printf("    pose of B (row-major 3x4):");
    for (int i = 0; i < 3; ++i)
        std::printf(" %.17g %.17g %.17g %.17g", p.r[i][0], p.r[i][1], p.r[i][2], p.t[i]);
    std::printf("\n");
}

// At a colliding pose, compares our list of pairs in contact with FCL's
// (OBB and OBBRSS trees) and prints every pair not in all three with its
// exact verdict. Returns 0 when the lists agree, 1 when every pair that
// differs is within our placement's rounding of the other verdict, 2 when
// any is not.
int comparePairs(Ours const& ours, Fcl const& f, Body const& A, Body const& B, Rigid const& pose,
                 fcl::Transform3d const& tb, int index)
{
    TrianglePairs const lists[3] = {ourPairs(*ours.an[OUR_ALL]), fclPairs(f.obbA, f.obbB, tb),
                                    fclPairs(f.obbrssA, f.obbrssB, tb)};
    TrianglePairs odd;
    for (TrianglePairs const& l : lists)
        for (auto const& p : l)
            if (!lists[0].count(p) || !lists[1].count(p) || !lists[2].count(p))
                odd.insert(p);
    if (odd.empty())
        return 0;
    bool allWithin = true;
    std::vector<std::string> lines;
    for (auto const& p : odd) {
        PairVerdict const v = exactVerdict(A, B, pose, p.first, p.second);
        allWithin = allWithin && v.withinRounding;
        char line[256];
        std::snprintf(line, sizeof line,
                      "    A %ld / B %ld: ours %d, fcl OBB %d, OBBRSS %d; exact: %s %.3g, placement rounding %.3g%s\n",
                      p.first, p.second, int(lists[0].count(p)), int(lists[1].count(p)), int(lists[2].count(p)),
                      v.touch ? "contact, depth" : "apart, clearance", v.margin, v.bound,
                      v.withinRounding ? "" : " (beyond it)");
        lines.push_back(line);
    }
    std::printf("  pose %d: contact pairs differ%s: ours %zu, fcl OBB %zu, fcl OBBRSS %zu\n", index,
                allWithin ? " within placement rounding" : "", lists[0].size(), lists[1].size(), lists[2].size());
    for (std::string const& l : lines)
        std::fputs(l.c_str(), stdout);
    printPose(pose);
    return allWithin ? 1 : 2;
}

// Runs every query at one pose, checks the answers, records the times.
void runPose(Ours& ours, Fcl const& f, Body const& A, Body const& B, Rigid const& pose, double tolerance, int index,
             Band band, Stats& st)
{
    ours.place(pose);
    fcl::Transform3d const tb = toFcl(pose);
    double t[KIND_COUNT];
    std::fill(t, t + KIND_COUNT, std::nan(""));
    bool flag[8];
    std::size_t unused = 0;

    Clock::time_point t0;
    for (int k = 0; k < 4; ++k) {
        // Contact queries are timed warm (see warmContacts); a distance
        // query run twice would start from its own answer.
        if (warmContacts && (k == OUR_FIRST || k == OUR_ALL))
            ours.an[k]->compute();
        t0 = Clock::now();
        ours.an[k]->compute();
        t[k] = microsecondsSince(t0);
        flag[k] = ours.an[k]->countCollisions() > 0;
        st.triangleTests[k] += double(tvxtest::AnalysisProbe::triangleTests(*ours.an[k]));
        st.unsureTests[k] += double(tvxtest::AnalysisProbe::unsureTests(*ours.an[k]));
    }
    if (warmContacts)
        fclCollides(f.obbA, f.obbB, tb, false, unused);
    t0 = Clock::now();
    flag[4] = fclCollides(f.obbA, f.obbB, tb, false, unused);
    t[FCL_FIRST_OBB] = microsecondsSince(t0);
    if (warmContacts)
        fclCollides(f.obbrssA, f.obbrssB, tb, false, unused);
    t0 = Clock::now();
    flag[5] = fclCollides(f.obbrssA, f.obbrssB, tb, false, unused);
    t[FCL_FIRST_OBBRSS] = microsecondsSince(t0);
    if (warmContacts)
        fclCollides(f.obbA, f.obbB, tb, true, unused);
    t0 = Clock::now();
    flag[6] = fclCollides(f.obbA, f.obbB, tb, true, unused);
    t[FCL_ALL_OBB] = microsecondsSince(t0);
    if (warmContacts)
        fclCollides(f.obbrssA, f.obbrssB, tb, true, unused);
    t0 = Clock::now();
    flag[7] = fclCollides(f.obbrssA, f.obbrssB, tb, true, unused);
    t[FCL_ALL_OBBRSS] = microsecondsSince(t0);

    // First contact as a planner or a simulation asks for it: B moved
    // before every query. B is put untimed at a neighbour of the pose (off
    // by a hundredth of a percent of R along x) and queried there, then
    // placed back at the pose and queried, placement and query timed; the
    // same for FCL, whose collide() takes the transform. The query type's
    // copy of B ends at the pose; its answer must be the unmoved one's.
    {
        Rigid neighbour = pose;
        neighbour.t[0] += 10.0 * tolerance;
        CqarMat4 const there = Ours::placement(neighbour), here = Ours::placement(pose);
        CtvxPolyhedron& moved = *ours.b[OUR_FIRST % ours.copies];
        moved.absolutePosition(there);
        ours.an[OUR_FIRST]->compute();
        t0 = Clock::now();
        moved.absolutePosition(here);
        ours.an[OUR_FIRST]->compute();
        t[OUR_FIRST_MOVED] = microsecondsSince(t0);
        if ((ours.an[OUR_FIRST]->countCollisions() > 0) != flag[OUR_FIRST]) {
            ++st.flagDisagree;
            std::printf("  pose %d: first contact differs once B was moved away and back\n", index);
            printPose(pose);
        }
        fclCollides(f.obbA, f.obbB, toFcl(neighbour), false, unused);
        t0 = Clock::now();
        fclCollides(f.obbA, f.obbB, tb, false, unused);
        t[FCL_FIRST_OBB_MOVED] = microsecondsSince(t0);
    }

    // The reference answer for contact is FCL's OBBRSS first contact (the
    // same test that placed the poses).
    bool const colliding = flag[5];
    int const c = colliding ? COLLIDING : (band == COLLIDING ? NEAR_MISS : band);
    bool flagsAgree = true;
    for (bool fl : flag)
        flagsAgree = flagsAgree && fl == colliding;
    if (!flagsAgree) {
        ++st.flagDisagree;
        std::printf("  pose %d: contact flags differ: ours first/all/exact/estimated %d%d%d%d, fcl first OBB/OBBRSS "
                    "all OBB/OBBRSS %d%d%d%d\n",
                    index, flag[0], flag[1], flag[2], flag[3], flag[4], flag[5], flag[6], flag[7]);
        printPose(pose);
    }
    if (colliding) {
        ++st.countChecked;
        int const differ = comparePairs(ours, f, A, B, pose, tb, index);
        st.countWithinRounding += differ == 1;
        st.countDisagree += differ == 2;
    } else {
        fcl::Vector3d pa, pb;
        t0 = Clock::now();
        double const dRss = fclDistance(f.rssA, f.rssB, tb, pa, pb);
        t[FCL_DIST_RSS] = microsecondsSince(t0);
        t0 = Clock::now();
        double const dObbrss = fclDistance(f.obbrssA, f.obbrssB, tb, pa, pb);
        t[FCL_DIST_OBBRSS] = microsecondsSince(t0);
        if (!flag[OUR_EXACT] && ours.an[OUR_EXACT]->countDistances() == 0) {
            // A separated pair always has a clearance to report.
            ++st.distChecked;
            ++st.distDisagree;
            std::printf("  pose %d: no clearance reported; fcl RSS %.9g, OBBRSS %.9g\n", index, dRss, dObbrss);
            printPose(pose);
        } else if (!flag[OUR_EXACT]) {
            ++st.distChecked;
            boost::shared_ptr<CtvxDistance> d;
            ours.an[OUR_EXACT]->getDistance(0, d);
            double const mine = d->distance();
            // Our closest points must be that far apart too.
            double gap = std::nan("");
            boost::shared_ptr<CtvxGeometryPoint> p1, p2;
            if (d->getClosestPoint1(p1) == 0 && d->getClosestPoint2(p2) == 0) {
                CqarPoint3 q1, q2;
                p1->pointAbsolute(q1);
                p2->pointAbsolute(q2);
                gap = q1.distanceFrom(q2);
            }
            if (std::fabs(mine - dRss) > tolerance || std::fabs(mine - dObbrss) > tolerance ||
                !(std::fabs(gap - mine) <= tolerance)) {
                ++st.distDisagree;
                std::printf("  pose %d: distance differs: ours %.9g (points %.9g apart), fcl RSS %.9g, OBBRSS %.9g\n",
                            index, mine, gap, dRss, dObbrss);
                printPose(pose);
            }
            // Untimed re-runs for the descent's work: first from no useful
            // hint (triangle 0 of each), then from the hint that leaves,
            // which is the answer itself (so the state after is as usual).
            boost::shared_ptr<CtvxPolyhedron> const& pa1 = ours.a[OUR_EXACT % ours.copies];
            boost::shared_ptr<CtvxPolyhedron> const& pb1 = ours.b[OUR_EXACT % ours.copies];
            for (int warm = 0; warm < 2; ++warm) {
                if (!warm) {
                    pa1->setLastClosestInfo(0);
                    pb1->setLastClosestInfo(0);
                }
                boost::shared_ptr<CtvxCollision> pc = CtvxCollision::create();
                boost::shared_ptr<CtvxDistance> pd = CtvxDistance::create();
                tvxtest::PairRun const run =
                    tvxtest::runPair(pa1, pb1, CtvxAnalysis::EXACT_DISTANCE, ourWalk, pc, pd);
                st.exactBoxTests[c][warm].push_back(double(run.boxTests));
                st.exactTriTests[c][warm].push_back(double(run.triangleTests));
            }
            if (ours.an[OUR_ESTIMATED]->countDistances() > 0) {
                boost::shared_ptr<CtvxDistance> e;
                ours.an[OUR_ESTIMATED]->getDistance(0, e);
                if (e->distance() > mine + tolerance) {
                    ++st.boundDisagree;
                    std::printf("  pose %d: estimated %.9g exceeds exact %.9g\n", index, e->distance(), mine);
                    printPose(pose);
                }
            }
        }
    }
    ++st.poses[c];
    st.firstBoxTests[c].push_back(double(tvxtest::AnalysisProbe::boxTests(*ours.an[OUR_FIRST])));
    for (int k = 0; k < KIND_COUNT; ++k)
        if (!std::isnan(t[k]))
            st.times[c][k].push_back(t[k]);
}

double ratio(double a, double b)
{
    return (std::isnan(a) || std::isnan(b) || b <= 0) ? std::nan("") : a / b;
}

void report(std::string const& title, Body const& A, Body const& B, Ours const& ours, Fcl const& f, Stats const& st)
{
    double const tris = double(A.mesh.countTriangles() + B.mesh.countTriangles());
    std::printf("\n== %s\n", title.c_str());
    std::printf("A %s: %zu triangles   B %s: %zu triangles\n", A.name.c_str(), A.mesh.countTriangles(),
                B.name.c_str(), B.mesh.countTriangles());
    std::printf("%-10s %12s %14s %16s\n", "tree", "build ms", "bytes/tri", "bytes/tri +mesh");
    std::printf("%-10s %12.2f %14.1f %16s\n", "ours OBB", ours.buildMs, ours.treeBytes / tris, "-");
    char const* const names[3] = {"fcl OBB", "fcl OBBRSS", "fcl RSS"};
    for (int k = 0; k < 3; ++k)
        std::printf("%-10s %12.2f %14.1f %16.1f\n", names[k], f.buildMs[k], f.treeBytes[k] / tris,
                    f.meshBytes[k] / tris);
    std::printf("build ours/fcl OBBRSS = %.3f, ours/fcl OBB = %.3f\n", ratio(ours.buildMs, f.buildMs[1]),
                ratio(ours.buildMs, f.buildMs[0]));
    int separated = 0;
    for (int b = NEAR_MISS; b < BAND_COUNT; ++b)
        separated += st.poses[b];
    std::printf("poses: %d colliding, %d separated (", st.poses[COLLIDING], separated);
    for (int b = NEAR_MISS; b < BAND_COUNT; ++b)
        std::printf("%s%s %d", b == NEAR_MISS ? "" : ", ", kBandNames[b], st.poses[b]);
    std::printf("; R = %.6g)\n", A.halfDiagonal + B.halfDiagonal);
    // Columns: colliding, all separated, then each separated band.
    int const columns = 2 + kSeparatedBands;
    std::vector<double> med[KIND_COUNT];
    for (int k = 0; k < KIND_COUNT; ++k) {
        std::vector<double> all;
        for (int b = NEAR_MISS; b < BAND_COUNT; ++b)
            all.insert(all.end(), st.times[b][k].begin(), st.times[b][k].end());
        med[k].push_back(median(st.times[COLLIDING][k]));
        med[k].push_back(median(all));
        for (int b = NEAR_MISS; b < BAND_COUNT; ++b)
            med[k].push_back(median(st.times[b][k]));
    }
    auto header = [&](char const* first) {
        std::printf("%-22s %11s %11s", first, "colliding", "separated");
        for (int b = NEAR_MISS; b < BAND_COUNT; ++b)
            std::printf(" %11s", kBandNames[b]);
        std::printf("\n");
    };
    header("median us");
    for (int k = 0; k < KIND_COUNT; ++k) {
        std::printf("%-22s", kKindNames[k]);
        for (int c = 0; c < columns; ++c)
            std::printf(" %11.2f", med[k][c]);
        std::printf("\n");
    }
    header("ratios (ours / fcl)");
    struct R {
        char const* name;
        int ours, fcl;
    } const rs[] = {{"first / first OBB", OUR_FIRST, FCL_FIRST_OBB},
                    {"first / first OBBRSS", OUR_FIRST, FCL_FIRST_OBBRSS},
                    {"first, B moved / OBB", OUR_FIRST_MOVED, FCL_FIRST_OBB_MOVED},
                    {"all / all OBB", OUR_ALL, FCL_ALL_OBB},
                    {"all / all OBBRSS", OUR_ALL, FCL_ALL_OBBRSS},
                    {"exact / dist RSS", OUR_EXACT, FCL_DIST_RSS},
                    {"exact / dist OBBRSS", OUR_EXACT, FCL_DIST_OBBRSS},
                    {"estimated / dist RSS", OUR_ESTIMATED, FCL_DIST_RSS}};
    for (R const& r : rs) {
        std::printf("  %-20s", r.name);
        for (int c = 0; c < columns; ++c)
            std::printf(" %11.3f", ratio(med[r.ours][c], med[r.fcl][c]));
        std::printf("\n");
    }
    std::printf("ours first, box tests, median / largest / poses settled at the roots:");
    for (int b = COLLIDING; b < BAND_COUNT; ++b) {
        std::vector<double> const& v = st.firstBoxTests[b];
        std::printf("%s %s %.0f / %.0f / %zu of %zu", b == COLLIDING ? "" : ",", kBandNames[b], median(v),
                    v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()),
                    std::size_t(std::count(v.begin(), v.end(), 1.0)), v.size());
    }
    std::printf("\n");
    std::printf("ours exact, separated, untimed re-runs, median tests from triangle 0 | from the answer "
                "(boxes/triangles):\n");
    for (int b = NEAR_MISS; b < BAND_COUNT; ++b)
        std::printf("  %-10s %8.0f / %-6.0f | %8.0f / %-6.0f\n", kBandNames[b], median(st.exactBoxTests[b][0]),
                    median(st.exactTriTests[b][0]), median(st.exactBoxTests[b][1]), median(st.exactTriTests[b][1]));
    std::printf("ours triangle tests left unsure by single precision (exact path): first %.0f of %.0f, all %.0f "
                "of %.0f, exact %.0f of %.0f, estimated %.0f of %.0f\n",
                st.unsureTests[OUR_FIRST], st.triangleTests[OUR_FIRST], st.unsureTests[OUR_ALL],
                st.triangleTests[OUR_ALL], st.unsureTests[OUR_EXACT], st.triangleTests[OUR_EXACT],
                st.unsureTests[OUR_ESTIMATED], st.triangleTests[OUR_ESTIMATED]);
    std::printf("agreement: contact flags %d/%d poses agree; pairs in contact %d/%d (%d differ within placement "
                "rounding); distances %d/%d; estimated <= exact %d/%d\n",
                st.poses[COLLIDING] + separated - st.flagDisagree, st.poses[COLLIDING] + separated,
                st.countChecked - st.countDisagree - st.countWithinRounding, st.countChecked, st.countWithinRounding,
                st.distChecked - st.distDisagree, st.distChecked,
                st.distChecked - st.boundDisagree, st.distChecked);
}

// Returns the number of disagreements.
int runScenario(std::string const& title, Body A, Body B, int nPoses, std::uint64_t seed, bool coherent,
                bool sharedHints)
{
    measure(A);
    measure(B);
    Ours ours;
    ours.make(A, B, sharedHints);
    Fcl f;
    f.make(A, B);
    // Distances agree within 1e-5 of the scene's size: our float geometry
    // against FCL's doubles made from the same floats.
    double const tolerance = 1e-5 * (A.halfDiagonal + B.halfDiagonal);
    Stats st;
    if (!coherent) {
        for (int i = 0; i < nPoses; ++i) {
            if (onlyBand != COLLIDING && (i % 2 == 0 || NEAR_MISS + (i / 2) % kSeparatedBands != onlyBand))
                continue;
            std::mt19937_64 rng = poseRng(seed, i);
            Draw const d = drawDirection(f, A, B, rng);
            Band band = COLLIDING;
            double s = 0;
            if (i % 2 == 0) {
                s = d.s0 - logUniform(rng, 0.002, 0.1) * B.halfDiagonal;
            } else {
                band = Band(NEAR_MISS + (i / 2) % kSeparatedBands);
                double lo = 0, hi = 0;
                bandGap(band, B.halfDiagonal, A.halfDiagonal + B.halfDiagonal, lo, hi);
                s = d.s0 + logUniform(rng, lo, hi);
            }
            runPose(ours, f, A, B, placeAlong(A, B, d.r, d.u, s), tolerance, i, band, st);
        }
    } else {
        std::mt19937_64 rng = poseRng(seed, 0);
        Draw const d = drawDirection(f, A, B, rng);
        for (int i = 0; i < nPoses; ++i) {
            double const phase = double(i) / double(std::max(1, nPoses - 1));
            double const s = d.s0 + B.halfDiagonal * (0.2 + 0.25 * std::cos(2.0 * M_PI * phase));
            double turn[3][3], r[3][3];
            axisAngle(d.axis, 0.5 * phase, turn);
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b)
                    r[a][b] = turn[a][0] * d.r[0][b] + turn[a][1] * d.r[1][b] + turn[a][2] * d.r[2][b];
            double const R = A.halfDiagonal + B.halfDiagonal;
            runPose(ours, f, A, B, placeAlong(A, B, r, d.u, s), tolerance, i, bandOf(s - d.s0, R), st);
        }
    }
    report(title + (coherent ? " (coherent path" : " (random poses") + (sharedHints ? ", shared hints)" : ")"), A,
           B, ours, f, st);
    return st.flagDisagree + st.countDisagree + st.distDisagree + st.boundDisagree;
}

bool loadBody(std::string const& path, Body& out)
{
    tvxio::ImportedMesh mesh;
    std::string error;
    if (tvxio::importMesh(path, tvxio::ImportOptions(), mesh, error) != 0 || mesh.parts.empty()) {
        std::fprintf(stderr, "peer_compare: %s\n", error.c_str());
        return false;
    }
    out.name = path.substr(path.find_last_of('/') + 1);
    out.mesh = std::move(mesh.parts[0]);
    return true;
}

// A torus (R 1, r 0.3) and a sphere of radius 0.5, each of about n triangles.
void procedural(int n, Body& a, Body& b)
{
    int const minor = std::max(3, int(std::lround(std::sqrt(n / 8.0))));
    int const major = std::max(3, n / (2 * minor));
    a.mesh = fromProcedural(tvxtest::makeTorus(major, minor, 1.0, 0.3));
    a.name = "torus";
    int const stacks = std::max(3, int(std::lround(std::sqrt(n / 4.0))));
    int const slices = std::max(3, n / (2 * (stacks - 1)));
    b.mesh = fromProcedural(tvxtest::makeUVSphere(slices, stacks, 0.5));
    b.name = "sphere";
}

int usage()
{
    std::fprintf(stderr, "usage: peer_compare [--poses N] [--seed S] [--coherent] [--shared-hints] "
                         "[--plain-walk] [--cold] [--scale-free-axes] [--band near|fine|working|far] [--shared DIR] "
                         "(MESH_A MESH_B | --procedural N ...)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // Line by line, so that a long run shows its disagreements as they come.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int nPoses = 200;
    std::uint64_t seed = 1;
    bool coherent = false, sharedHints = false;
    std::string shared;
    std::vector<int> sizes;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string const a = argv[i];
        bool const hasValue = i + 1 < argc;
        if (a == "--poses" && hasValue)
            nPoses = std::atoi(argv[++i]);
        else if (a == "--seed" && hasValue)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--coherent")
            coherent = true;
        else if (a == "--shared-hints")
            sharedHints = true;
        else if (a == "--cold")
            warmContacts = false;
        else if (a == "--plain-walk")
            ourWalk = CtvxWalk::Plain;
        else if (a == "--scale-free-axes")
            CtvxPolyhedronOBBTreeFactory::scaleFreeAxes(true);
        else if (a == "--band" && hasValue) {
            std::string const name = argv[++i];
            for (int b = NEAR_MISS; b < BAND_COUNT; ++b)
                if (name == kBandOptions[b])
                    onlyBand = Band(b);
            if (onlyBand == COLLIDING)
                return usage();
        } else if (a == "--shared" && hasValue)
            shared = argv[++i];
        else if (a == "--procedural" && hasValue)
            sizes.push_back(std::atoi(argv[++i]));
        else if (!a.empty() && a[0] == '-')
            return usage();
        else
            files.push_back(a);
    }
    if (nPoses < 1 || (files.size() != 0 && files.size() != 2))
        return usage();
    if (files.empty() && sizes.empty())
        sizes = {1000, 10000, 100000};
    std::printf("peer_compare: %d %s, seed %llu\n", nPoses, coherent ? "steps" : "poses",
                static_cast<unsigned long long>(seed));
    int disagreements = 0;
    for (int n : sizes) {
        Body a, b;
        procedural(n, a, b);
        disagreements += runScenario("procedural " + std::to_string(n), a, b, nPoses, seed, coherent, sharedHints);
    }
    if (files.size() == 2) {
        Body a, b;
        for (std::string& p : files)
            if (!shared.empty() && p.find('/') == std::string::npos)
                p = shared + "/" + p;
        if (!loadBody(files[0], a) || !loadBody(files[1], b))
            return 1;
        disagreements += runScenario(a.name + " vs " + b.name, a, b, nPoses, seed, coherent, sharedHints);
    }
    // A disagreement fails the run, so that the comparison also serves as a
    // test against FCL.
    return disagreements == 0 ? 0 : 3;
}
