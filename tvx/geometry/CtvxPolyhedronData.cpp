#include <tvx/geometry/CtvxPolyhedronData.h>

#include <tvx/geometry/internal/CtvxTreeShelf.h>

#include <tvx/geometry/CtvxPoly.h>

#include <limits>
#include <mutex>
#include <stdexcept>

std::string const CtvxPolyhedronData::m_className = "CtvxPolyhedronData";

namespace {

// Ranks are 32-bit in the interface: one more element would get a rank that
// aliases an earlier one.
template <class T>
void checkRoomForOne(std::vector<T> const& v)
{
    if (v.size() >= std::numeric_limits<unsigned int>::max())
        throw std::length_error("CtvxPolyhedronData: more elements than 32-bit ranks can address");
}

} // namespace

boost::shared_ptr<CtvxPolyhedronData> CtvxPolyhedronData::create()
{
    return boost::shared_ptr<CtvxPolyhedronData>(new CtvxPolyhedronData());
}

CtvxPolyhedronData::CtvxPolyhedronData() : m_treeShelf(new CtvxTreeShelf) {}
CtvxPolyhedronData::~CtvxPolyhedronData() = default;

unsigned int CtvxPolyhedronData::countTriangles() const
{
    return static_cast<unsigned int>(m_triangles.size());
}

unsigned int CtvxPolyhedronData::countPoints() const
{
    return static_cast<unsigned int>(m_points.size());
}

// Ranks are the caller's: one past the end, or a triangle naming a point
// not added yet (which the data model allows), reads as zeros rather than
// past the end of an array.
void CtvxPolyhedronData::getTriangle(unsigned int rank, CqarPoint3* const points) const
{
    unsigned int a = 0, b = 0, c = 0;
    if (rank < m_triangles.size())
        m_triangles[rank].getPoints(a, b, c);
    getPoint(a, points[0]);
    getPoint(b, points[1]);
    getPoint(c, points[2]);
}

void CtvxPolyhedronData::getTriangle(unsigned int rank, unsigned int& p1, unsigned int& p2, unsigned int& p3) const
{
    p1 = p2 = p3 = 0;
    if (rank < m_triangles.size())
        m_triangles[rank].getPoints(p1, p2, p3);
}

void CtvxPolyhedronData::getPoint(unsigned int rank, CqarPoint3& point) const
{
    if (rank < m_points.size())
        m_points[rank].XYZ(point);
    else
        point = CqarPoint3(0.0, 0.0, 0.0);
}

void CtvxPolyhedronData::getPoint(unsigned int rank, float& x, float& y, float& z) const
{
    if (rank < m_points.size())
        m_points[rank].XYZ(x, y, z);
    else
        x = y = z = 0.0f;
}

std::string const& CtvxPolyhedronData::className() const
{
    return m_className;
}

void CtvxPolyhedronData::optimizeMemory()
{
    m_points.shrink_to_fit();
    m_triangles.shrink_to_fit();
}

void CtvxPolyhedronData::addPoint(float x, float y, float z, unsigned int& rank)
{
    checkRoomForOne(m_points);
    m_points.emplace_back(x, y, z);
    ++m_revision;
    if (m_isWatched)
        changed();
    rank = static_cast<unsigned int>(m_points.size() - 1);
}

void CtvxPolyhedronData::addPoint(CqarPoint3 const& point, unsigned int& rank)
{
    checkRoomForOne(m_points);
    m_points.emplace_back(point);
    ++m_revision;
    if (m_isWatched)
        changed();
    rank = static_cast<unsigned int>(m_points.size() - 1);
}

void CtvxPolyhedronData::addTriangle(unsigned int p1, unsigned int p2, unsigned int p3, unsigned int& rank)
{
    checkRoomForOne(m_triangles);
    m_triangles.emplace_back(p1, p2, p3);
    ++m_revision;
    if (m_isWatched)
        changed();
    rank = static_cast<unsigned int>(m_triangles.size() - 1);
}

void CtvxPolyhedronData::reserveNPoints(unsigned int n)
{
    if (n > m_points.capacity())
        m_points.reserve(n);
}

void CtvxPolyhedronData::reserveNTriangles(unsigned int n)
{
    if (n > m_triangles.capacity())
        m_triangles.reserve(n);
}

void CtvxPolyhedronData::watch(boost::weak_ptr<CtvxPoly> const& set)
{
    boost::shared_ptr<CtvxPoly> const newcomer = set.lock();
    if (!newcomer)
        return;
    CtvxTreeShelf& shelf = *m_treeShelf;
    std::lock_guard<std::recursive_mutex> const lock(shelf.mutex);
    std::vector<boost::weak_ptr<CtvxPoly>>& w = shelf.watchers;
    m_isWatched = true;
    // A set rebuilt many times (scaled step by step, say) is listed once.
    auto const known = shelf.watcherRank.find(newcomer.get());
    if (known != shelf.watcherRank.end()) {
        ++shelf.watcherSteps;
        if (w[known->second].lock() != newcomer)
            w[known->second] = set;
        return;
    }
    // Expired entries go once the list has doubled since the last sweep:
    // the list stays within twice the live sets, and a mesh shared by many
    // instances lists them all in time linear in their number.
    if (w.size() >= 2 * shelf.watchersAtSweep + 8) {
        shelf.watcherSteps += w.size();
        shelf.watcherRank.clear();
        std::size_t kept = 0;
        for (std::size_t i = 0; i < w.size(); ++i)
            if (boost::shared_ptr<CtvxPoly> const entry = w[i].lock()) {
                shelf.watcherRank[entry.get()] = kept;
                w[kept++] = w[i];
            }
        w.resize(kept);
        shelf.watchersAtSweep = kept;
    }
    ++shelf.watcherSteps;
    shelf.watcherRank[newcomer.get()] = w.size();
    w.push_back(set);
}

void CtvxPolyhedronData::changed()
{
    std::vector<boost::weak_ptr<CtvxPoly>> sets;
    {
        std::lock_guard<std::recursive_mutex> const lock(m_treeShelf->mutex);
        sets.swap(m_treeShelf->watchers);
        m_treeShelf->watcherRank.clear();
        m_treeShelf->watchersAtSweep = 0;
        m_isWatched = false;
    }
    for (auto const& w : sets)
        if (boost::shared_ptr<CtvxPoly> const set = w.lock())
            set->markBVStale();
}
