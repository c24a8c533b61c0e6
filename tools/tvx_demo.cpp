// A short tour of what the library holds so far: a mesh stored compactly in
// single precision, placed in the world by double-precision transforms.
#include <tvx/tvx.h>

#include <cmath>
#include <cstdio>

namespace {

// An octahedron of the given radius: 6 points, 8 triangles.
boost::shared_ptr<CtvxPolyhedronData> makeOctahedron(float r)
{
    boost::shared_ptr<CtvxPolyhedronData> data = CtvxPolyhedronData::create();
    float const p[6][3] = {{r, 0, 0}, {-r, 0, 0}, {0, r, 0}, {0, -r, 0}, {0, 0, r}, {0, 0, -r}};
    unsigned int rank = 0;
    data->reserveNPoints(6);
    for (auto const& v : p)
        data->addPoint(v[0], v[1], v[2], rank);
    unsigned const t[8][3] = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4},
                              {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
    data->reserveNTriangles(8);
    for (auto const& f : t)
        data->addTriangle(f[0], f[1], f[2], rank);
    return data;
}

} // namespace

int main()
{
    boost::shared_ptr<CtvxPolyhedronData> mesh = makeOctahedron(1.0f);
    std::printf("mesh: %u points, %u triangles, %zu bytes of geometry\n", mesh->countPoints(),
                mesh->countTriangles(),
                mesh->countPoints() * sizeof(CtvxPoint) + mesh->countTriangles() * sizeof(CtvxTriangle));

    // Place it: a quarter turn about z, then a shift along x.
    CtvxMat4 rot;
    rot.rotateZ(static_cast<float>(M_PI / 2));
    CtvxMat4 shift;
    shift.translate(10.0f, 0.0f, 0.0f);
    CtvxMat4 const place = shift * rot;
    std::printf("placement is a rigid transform: %s\n", place.isTransRot() ? "yes" : "no");

    CqarPoint3 tip;
    mesh->getPoint(0, tip);
    CqarPoint3 const world = place * tip;
    std::printf("point 0 (%g, %g, %g) lands at (%.6f, %.6f, %.6f)\n", tip[0], tip[1], tip[2], world[0], world[1],
                world[2]);

    CqarPoint3 const back = place.inverse() * world;
    std::printf("and comes back to (%.6f, %.6f, %.6f) through the rigid inverse\n", back[0], back[1], back[2]);

    CqarQuatF const q(place.toQar());
    std::printf("its rotation as a quaternion (w, x, y, z): (%.6f, %.6f, %.6f, %.6f)\n", q.w(), q.x(), q.y(), q.z());
    return 0;
}
