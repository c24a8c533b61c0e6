#include <tvx/bvtree/internal/CtvxObbBuildSet.h>

#include <tvx/geometry/CtvxPoly.h>
#include <tvx/geometry/internal/CtvxDirectMesh.h>

#include <qar/CqarMat4.h>
#include <qar/CqarVect3.h>

#include <cmath>

namespace {

// Largest coordinate magnitude for which extremes are gathered out of order:
// projections on axes of components at most 2 then stay far from float
// overflow, so no infinity or NaN can make the order matter.
float const kOrderFreeMagnitude = 1e18f;

} // namespace

void CtvxObbBuildSet::read(CtvxPoly const& poly)
{
    unsigned int const n = poly.countTriangles();
    m_ranks.resize(n);
    for (unsigned int i = 0; i < n; ++i)
        m_ranks[i] = i;
    // Three floats of padding, so that four-float loads at a triangle's last
    // vertex stay inside the array.
    m_vertices.assign(static_cast<std::size_t>(n) * 9 + 3, 0.0f);
    m_centroidSums.clear();
    if (!readDirect(poly, n)) {
        bool exact = true;
        CqarPoint3 points[3];
        for (unsigned int t = 0; t < n; ++t) {
            poly.getTriangle(t, points);
            float* v = &m_vertices[static_cast<std::size_t>(t) * 9];
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k) {
                    double const d = points[j][k];
                    v[3 * j + k] = static_cast<float>(d);
                    exact = exact && static_cast<double>(v[3 * j + k]) == d;
                }
            if (!exact && m_centroidSums.empty()) {
                // From here on keep the double sums; fill in those already read.
                m_centroidSums.resize(static_cast<std::size_t>(n) * 3);
                for (unsigned int u = 0; u < t; ++u) {
                    float const* w = &m_vertices[static_cast<std::size_t>(u) * 9];
                    for (int k = 0; k < 3; ++k)
                        m_centroidSums[3 * u + k] = static_cast<double>(w[k]) + static_cast<double>(w[3 + k]) +
                                                    static_cast<double>(w[6 + k]);
                }
            }
            if (!m_centroidSums.empty())
                for (int k = 0; k < 3; ++k)
                    m_centroidSums[3 * static_cast<std::size_t>(t) + k] = points[0][k] + points[1][k] + points[2][k];
        }
    }
    // Bounds and extents may be gathered in any order only when every value
    // is finite, no zero is negative and projections cannot overflow: then a
    // minimum or maximum has a single representation whatever the order.
    m_orderFree = true;
    for (float const x : m_vertices)
        if (!(std::fabs(x) <= kOrderFreeMagnitude) || (x == 0.0f && std::signbit(x))) {
            m_orderFree = false;
            break;
        }
}

void CtvxObbBuildSet::release()
{
    std::vector<unsigned int>().swap(m_ranks);
    std::vector<float>().swap(m_vertices);
    std::vector<double>().swap(m_centroidSums);
    m_orderFree = false;
}

bool CtvxObbBuildSet::readDirect(CtvxPoly const& poly, unsigned int n)
{
    // The library's own polyhedron under an identity points transform: its
    // stored floats as getTriangle() would hand them out, read in place.
    CtvxDirectMesh const direct = CtvxDirectMesh::of(poly);
    if (!direct.valid() || direct.countTriangles() != n)
        return false;
    float* v = m_vertices.data();
    for (unsigned int t = 0; t < n; ++t, v += 9)
        direct.vertices(t, v);
    return true;
}
