#include <tvx/geometry/internal/CtvxDirectMesh.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>

#include <cmath>
#include <typeinfo>

CtvxDirectMesh CtvxDirectMesh::of(CtvxPoly const& poly)
{
    CtvxDirectMesh direct;
    if (typeid(poly) != typeid(CtvxPolyhedron))
        return direct;
    CtvxPolyhedron const& p = static_cast<CtvxPolyhedron const&>(poly);
    // Every query starts here, twice: the flag set with the points
    // transform spares a copy of it and its test, and the raw mesh pointer
    // an atomic count up and down.
    if (!p.m_pointsTransformIsIdentity)
        return direct;
    CtvxPolyhedronData const* const data = p.m_polyData.get();
    if (!data || data->countTriangles() == 0)
        return direct;
    direct.m_points = data->points();
    direct.m_triangles = data->triangles();
    direct.m_count = data->countTriangles();
    return direct;
}

CtvxPoint const* CtvxDirectMesh::pointsOf(CtvxPoly const& poly, unsigned int& count)
{
    count = 0;
    if (!of(poly).valid())
        return nullptr;
    CtvxPolyhedronData const& data = *static_cast<CtvxPolyhedron const&>(poly).m_polyData;
    count = data.countPoints();
    return data.points();
}

bool CtvxDirectMesh::actsAsIdentityOnPoints(CqarMat4 const& m)
{
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (m(r, c) != (r == c ? 1.0 : 0.0))
                return false;
        }
        if (m(r, 3) != 0.0 || std::signbit(m(r, 3)))
            return false;
    }
    return true;
}
