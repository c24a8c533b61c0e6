#include <tests/support/Meshes.h>

#include <cmath>
#include <map>
#include <utility>

namespace tvxtest {

namespace {

double const kPi = 3.14159265358979323846;

void addTriangle(Mesh& m, unsigned a, unsigned b, unsigned c)
{
    m.triangles.push_back({a, b, c});
}

unsigned addPoint(Mesh& m, double x, double y, double z)
{
    m.points.push_back({x, y, z});
    return static_cast<unsigned>(m.points.size() - 1);
}

std::array<double, 3> normalised(std::array<double, 3> const& p, double radius)
{
    double const n = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    return {p[0] / n * radius, p[1] / n * radius, p[2] / n * radius};
}

} // namespace

Mesh makeIcosphere(int subdivisions, double radius)
{
    Mesh m;
    double const t = (1.0 + std::sqrt(5.0)) / 2.0;
    double const base[12][3] = {{-1, t, 0}, {1, t, 0},  {-1, -t, 0}, {1, -t, 0}, {0, -1, t},  {0, 1, t},
                                {0, -1, -t}, {0, 1, -t}, {t, 0, -1},  {t, 0, 1},  {-t, 0, -1}, {-t, 0, 1}};
    for (auto const& p : base)
        m.points.push_back(normalised({p[0], p[1], p[2]}, radius));
    unsigned const faces[20][3] = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                   {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                   {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                   {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    for (auto const& f : faces)
        addTriangle(m, f[0], f[1], f[2]);

    for (int s = 0; s < subdivisions; ++s) {
        std::map<std::pair<unsigned, unsigned>, unsigned> midpoints;
        auto midpoint = [&](unsigned a, unsigned b) {
            std::pair<unsigned, unsigned> const key(a < b ? a : b, a < b ? b : a);
            auto const it = midpoints.find(key);
            if (it != midpoints.end())
                return it->second;
            auto const& pa = m.points[a];
            auto const& pb = m.points[b];
            m.points.push_back(
                normalised({(pa[0] + pb[0]) * 0.5, (pa[1] + pb[1]) * 0.5, (pa[2] + pb[2]) * 0.5}, radius));
            unsigned const r = static_cast<unsigned>(m.points.size() - 1);
            midpoints.emplace(key, r);
            return r;
        };
        std::vector<std::array<unsigned, 3>> next;
        next.reserve(m.triangles.size() * 4);
        for (auto const& tri : m.triangles) {
            unsigned const ab = midpoint(tri[0], tri[1]);
            unsigned const bc = midpoint(tri[1], tri[2]);
            unsigned const ca = midpoint(tri[2], tri[0]);
            next.push_back({tri[0], ab, ca});
            next.push_back({tri[1], bc, ab});
            next.push_back({tri[2], ca, bc});
            next.push_back({ab, bc, ca});
        }
        m.triangles.swap(next);
    }
    return m;
}

Mesh makeUVSphere(int slices, int stacks, double radius)
{
    Mesh m;
    unsigned const north = addPoint(m, 0, 0, radius);
    // Rings 1 .. stacks-1 between the poles.
    for (int i = 1; i < stacks; ++i) {
        double const phi = kPi * i / stacks;
        for (int j = 0; j < slices; ++j) {
            double const theta = 2.0 * kPi * j / slices;
            addPoint(m, radius * std::sin(phi) * std::cos(theta), radius * std::sin(phi) * std::sin(theta),
                     radius * std::cos(phi));
        }
    }
    unsigned const south = addPoint(m, 0, 0, -radius);
    auto ring = [&](int i, int j) { return 1u + static_cast<unsigned>((i - 1) * slices + (j % slices)); };
    for (int j = 0; j < slices; ++j)
        addTriangle(m, north, ring(1, j), ring(1, j + 1));
    for (int i = 1; i + 1 < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            addTriangle(m, ring(i, j), ring(i + 1, j), ring(i + 1, j + 1));
            addTriangle(m, ring(i, j), ring(i + 1, j + 1), ring(i, j + 1));
        }
    for (int j = 0; j < slices; ++j)
        addTriangle(m, south, ring(stacks - 1, j + 1), ring(stacks - 1, j));
    return m;
}

Mesh makeTorus(int nMajor, int nMinor, double R, double r)
{
    Mesh m;
    for (int i = 0; i < nMajor; ++i) {
        double const u = 2.0 * kPi * i / nMajor;
        for (int j = 0; j < nMinor; ++j) {
            double const v = 2.0 * kPi * j / nMinor;
            double const d = R + r * std::cos(v);
            addPoint(m, d * std::cos(u), d * std::sin(u), r * std::sin(v));
        }
    }
    auto at = [&](int i, int j) { return static_cast<unsigned>((i % nMajor) * nMinor + (j % nMinor)); };
    for (int i = 0; i < nMajor; ++i)
        for (int j = 0; j < nMinor; ++j) {
            addTriangle(m, at(i, j), at(i + 1, j), at(i + 1, j + 1));
            addTriangle(m, at(i, j), at(i + 1, j + 1), at(i, j + 1));
        }
    return m;
}

Mesh makeGrid(int nx, int ny, double sizeX, double sizeY)
{
    Mesh m;
    for (int j = 0; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i)
            addPoint(m, -0.5 * sizeX + sizeX * i / nx, -0.5 * sizeY + sizeY * j / ny, 0.0);
    auto at = [&](int i, int j) { return static_cast<unsigned>(j * (nx + 1) + i); };
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            addTriangle(m, at(i, j), at(i + 1, j), at(i + 1, j + 1));
            addTriangle(m, at(i, j), at(i + 1, j + 1), at(i, j + 1));
        }
    return m;
}

Mesh makeBox(double hx, double hy, double hz)
{
    Mesh m;
    for (int k = 0; k < 8; ++k)
        addPoint(m, (k & 1) ? hx : -hx, (k & 2) ? hy : -hy, (k & 4) ? hz : -hz);
    // Two triangles per face, counter-clockwise seen from outside.
    unsigned const quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                  {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (auto const& q : quads) {
        addTriangle(m, q[0], q[1], q[2]);
        addTriangle(m, q[0], q[2], q[3]);
    }
    return m;
}

Mesh makeNeedle(int n, double length, double radius)
{
    Mesh m;
    double const x0 = -0.5 * length;
    double const x1 = 0.5 * length;
    for (int j = 0; j < n; ++j) {
        double const a = 2.0 * kPi * j / n;
        addPoint(m, x0, radius * std::cos(a), radius * std::sin(a));
    }
    for (int j = 0; j < n; ++j) {
        double const a = 2.0 * kPi * j / n;
        addPoint(m, x1, radius * std::cos(a), radius * std::sin(a));
    }
    unsigned const c0 = addPoint(m, x0, 0, 0);
    unsigned const c1 = addPoint(m, x1, 0, 0);
    unsigned const un = static_cast<unsigned>(n);
    for (unsigned j = 0; j < un; ++j) {
        unsigned const k = (j + 1) % un;
        addTriangle(m, j, k, un + k);
        addTriangle(m, j, un + k, un + j);
        addTriangle(m, c0, k, j);
        addTriangle(m, c1, un + j, un + k);
    }
    return m;
}

Mesh makeSoup(Random& rng, int n, double extent, double maxEdge)
{
    Mesh m;
    m.points.reserve(3 * static_cast<std::size_t>(n));
    m.triangles.reserve(static_cast<std::size_t>(n));
    double const rad = 0.5 * maxEdge;
    for (int t = 0; t < n; ++t) {
        double c[3];
        for (double& v : c)
            v = rng.uniform(-0.5 * extent, 0.5 * extent);
        unsigned idx[3];
        for (unsigned& i : idx) {
            double d[3];
            do {
                for (double& v : d)
                    v = rng.uniform(-rad, rad);
            } while (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] > rad * rad);
            i = addPoint(m, c[0] + d[0], c[1] + d[1], c[2] + d[2]);
        }
        addTriangle(m, idx[0], idx[1], idx[2]);
    }
    return m;
}

Mesh makeGeometricChain(int n, double ratio)
{
    Mesh m;
    double x = 1e-17;
    for (int i = 0; i < n; ++i) {
        unsigned const b = static_cast<unsigned>(m.points.size());
        m.points.push_back({x, 0.0, 0.0});
        m.points.push_back({x * 1.001, 0.0, 0.0});
        m.points.push_back({x, x * 0.001, 0.0});
        m.triangles.push_back({b, b + 1, b + 2});
        x *= ratio;
    }
    return m;
}

Mesh makeIdenticalTriangles(int n)
{
    Mesh m;
    m.points = {{0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}};
    m.triangles.assign(static_cast<std::size_t>(n), {0u, 1u, 2u});
    return m;
}

Mesh makeStrip(int n, double step)
{
    Mesh m;
    int const columns = (n + 1) / 2;
    for (int i = 0; i <= columns; ++i) {
        addPoint(m, i * step, 0.0, 0.0);
        addPoint(m, i * step, step, 0.0);
    }
    for (int t = 0; t < n; ++t) {
        unsigned const i = static_cast<unsigned>(t / 2);
        if (t % 2 == 0)
            addTriangle(m, 2 * i, 2 * i + 2, 2 * i + 3);
        else
            addTriangle(m, 2 * i, 2 * i + 3, 2 * i + 1);
    }
    return m;
}

void transformMesh(Mesh& m, double scale, std::array<double, 3> const& translation)
{
    for (auto& p : m.points)
        for (int k = 0; k < 3; ++k)
            p[k] = scale * p[k] + translation[k];
}

} // namespace tvxtest
