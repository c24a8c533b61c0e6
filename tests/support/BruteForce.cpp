#include <tests/support/BruteForce.h>

#include <algorithm>
#include <cmath>

namespace tvxtest {

void WorldSide::add(Mesh const& mesh, Affine const& world, CtvxVirtualPolyhedron const* owner, double tolerance)
{
    for (std::size_t i = 0; i < mesh.triangles.size(); ++i) {
        WorldTriangle w;
        for (int k = 0; k < 3; ++k) {
            std::array<double, 3> const& p = mesh.points[mesh.triangles[i][k]];
            std::array<double, 3> const stored = {double(float(p[0])), double(float(p[1])), double(float(p[2]))};
            std::array<double, 3> const q = world.apply(stored);
            w.tri[k] = Vec3(q[0], q[1], q[2]);
        }
        w.lo = Vec3(std::min({w.tri[0].x, w.tri[1].x, w.tri[2].x}), std::min({w.tri[0].y, w.tri[1].y, w.tri[2].y}),
                    std::min({w.tri[0].z, w.tri[1].z, w.tri[2].z}));
        w.hi = Vec3(std::max({w.tri[0].x, w.tri[1].x, w.tri[2].x}), std::max({w.tri[0].y, w.tri[1].y, w.tri[2].y}),
                    std::max({w.tri[0].z, w.tri[1].z, w.tri[2].z}));
        w.owner = owner;
        w.rank = static_cast<int>(i);
        w.tolerance = tolerance;
        triangles.push_back(w);
    }
}

double WorldSide::reach() const
{
    double r = 0.0;
    for (WorldTriangle const& w : triangles)
        for (Vec3 const& v : w.tri)
            r = std::max({r, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    return r;
}

namespace {

double boxGap(WorldTriangle const& a, WorldTriangle const& b)
{
    double const dx = std::max({0.0, a.lo.x - b.hi.x, b.lo.x - a.hi.x});
    double const dy = std::max({0.0, a.lo.y - b.hi.y, b.lo.y - a.hi.y});
    double const dz = std::max({0.0, a.lo.z - b.hi.z, b.lo.z - a.hi.z});
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

} // namespace

double penetrationDepth(Tri const& a, Tri const& b)
{
    // The separating-axis candidates of two flat triangles: both normals,
    // the nine edge-edge cross products, and the in-plane edge normals. For
    // convex sets the smallest overlap over a complete set of candidates is
    // the distance one must move them to part them.
    Vec3 const ea[3] = {a[1] - a[0], a[2] - a[1], a[0] - a[2]};
    Vec3 const eb[3] = {b[1] - b[0], b[2] - b[1], b[0] - b[2]};
    Vec3 const na = cross(ea[0], ea[1]), nb = cross(eb[0], eb[1]);
    Vec3 axes[17];
    int n = 0;
    axes[n++] = na;
    axes[n++] = nb;
    for (Vec3 const& e : ea)
        for (Vec3 const& f : eb)
            axes[n++] = cross(e, f);
    for (Vec3 const& e : ea)
        axes[n++] = cross(e, na);
    for (Vec3 const& f : eb)
        axes[n++] = cross(f, nb);
    double scale = 0.0;
    for (int i = 0; i < 3; ++i)
        scale = std::max({scale, norm(ea[i]), norm(eb[i])});
    if (isDegenerate(a) || isDegenerate(b))
        return 0.0;
    double depth = 1e300;
    for (int i = 0; i < n; ++i) {
        double const len = norm(axes[i]);
        if (!(len > 1e-9 * scale * scale))
            continue;
        Vec3 const u = axes[i] * (1.0 / len);
        double lo1 = 1e300, hi1 = -1e300, lo2 = 1e300, hi2 = -1e300;
        for (int k = 0; k < 3; ++k) {
            double const p = dot(u, a[k]), q = dot(u, b[k]);
            lo1 = std::min(lo1, p);
            hi1 = std::max(hi1, p);
            lo2 = std::min(lo2, q);
            hi2 = std::max(hi2, q);
        }
        double const overlap = std::min(hi1 - lo2, hi2 - lo1);
        depth = std::min(depth, overlap);
    }
    return depth > 0.0 && depth < 1e300 ? depth : 0.0;
}

BruteForceAnswer bruteForce(WorldSide const& a, WorldSide const& b, double band)
{
    BruteForceAnswer ans;
    for (WorldTriangle const& ta : a.triangles) {
        for (WorldTriangle const& tb : b.triangles) {
            double const tol = ta.tolerance + tb.tolerance;
            double const gap = boxGap(ta, tb) - tol;
            if (gap > band && gap >= ans.clearance)
                continue;
            Vec3 p, q;
            double const dist = triangleDistance(ta.tri, tb.tri, &p, &q);
            // Crossing triangles get a negative clearance, their penetration
            // depth, so that a deep crossing is a contact beyond doubt.
            double const c = (dist > 0.0 ? dist : -penetrationDepth(ta.tri, tb.tri)) - tol;
            if (c < ans.clearance) {
                ans.clearance = std::max(c, dist - tol);
                ans.closest1 = p;
                ans.closest2 = q;
            }
            TrianglePairKey const key(TriangleKey(ta.owner, ta.rank), TriangleKey(tb.owner, tb.rank));
            if (c < -band)
                ans.sureContacts.insert(key);
            else if (c <= band)
                ans.boundaryContacts.insert(key);
        }
    }
    return ans;
}

double distanceToSide(Vec3 const& p, WorldSide const& side)
{
    double best = 1e300;
    for (WorldTriangle const& w : side.triangles) {
        double const dx = std::max({0.0, w.lo.x - p.x, p.x - w.hi.x});
        double const dy = std::max({0.0, w.lo.y - p.y, p.y - w.hi.y});
        double const dz = std::max({0.0, w.lo.z - p.z, p.z - w.hi.z});
        if (dx * dx + dy * dy + dz * dz >= best * best)
            continue;
        best = std::min(best, pointTriangleDistance(p, w.tri));
    }
    return best;
}

} // namespace tvxtest
