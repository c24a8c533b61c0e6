#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

class CtvxPoly;

// The working arrays of one tree build: the permutation of the triangle
// ranks, and beside each position the triangle's nine vertex coordinates
// narrowed to float (and, for sets whose vertices are not all floats, the
// double sums the split compares), permuted with it.
//
// read() fills it once from a poly, straight from the float arrays of a
// CtvxPolyhedron placed by the identity, else through CtvxPoly::getTriangle,
// so that the passes over a range cost no virtual call. Every node of the
// tree covers a contiguous range of positions; a split reorders its range
// with swapPositions(), and nothing else moves a position. release() gives
// the memory back.
class CtvxObbBuildSet {
public:
    CtvxObbBuildSet() = default;
    CtvxObbBuildSet(CtvxObbBuildSet const&) = delete;
    CtvxObbBuildSet& operator=(CtvxObbBuildSet const&) = delete;

    // Reads the triangles of poly, ranks 0 to n - 1 at positions 0 to n - 1.
    void read(CtvxPoly const& poly);
    void release();

    unsigned int count() const { return static_cast<unsigned int>(m_ranks.size()); }
    unsigned int rank(int position) const { return m_ranks[static_cast<std::size_t>(position)]; }
    // The nine coordinates of the triangle at position (vertex by vertex).
    // Three readable floats follow the last triangle's, so that four-float
    // loads at its last vertex stay inside the array.
    float const* vertices(int position) const { return &m_vertices[static_cast<std::size_t>(position) * 9]; }
    // Three centroid sums in double a position, as the split compares them,
    // or null when every vertex is a float (the sums are then recomputed
    // exactly from vertices()).
    double const* centroidSums(int position) const
    {
        return m_centroidSums.empty() ? nullptr : &m_centroidSums[static_cast<std::size_t>(position) * 3];
    }
    // Every coordinate is finite, at most 1e18 in magnitude
    // and not -0: minima and maxima may then be gathered in any order with
    // the same result, and projections on axes of components at most 2 stay
    // finite.
    bool orderFree() const { return m_orderFree; }

    void swapPositions(int p, int q)
    {
        std::size_t const a = static_cast<std::size_t>(p), b = static_cast<std::size_t>(q);
        std::swap(m_ranks[a], m_ranks[b]);
        std::swap_ranges(&m_vertices[a * 9], &m_vertices[a * 9] + 9, &m_vertices[b * 9]);
        if (!m_centroidSums.empty())
            std::swap_ranges(&m_centroidSums[a * 3], &m_centroidSums[a * 3] + 3, &m_centroidSums[b * 3]);
    }

private:
    // Copies the vertices straight from a CtvxPolyhedron's float arrays when
    // its points transform is the identity; false when it cannot.
    bool readDirect(CtvxPoly const& poly, unsigned int n);

    std::vector<unsigned int> m_ranks;
    std::vector<float> m_vertices;
    std::vector<double> m_centroidSums;
    bool m_orderFree = false;
};
