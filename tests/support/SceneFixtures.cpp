#include <tests/support/SceneFixtures.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <algorithm>
#include <cmath>

namespace tvxtest {

boost::shared_ptr<CtvxPolyhedronData> makePolyData(Mesh const& mesh)
{
    boost::shared_ptr<CtvxPolyhedronData> d = CtvxPolyhedronData::create();
    unsigned int rank = 0;
    for (auto const& p : mesh.points)
        d->addPoint(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]), rank);
    for (auto const& t : mesh.triangles)
        d->addTriangle(t[0], t[1], t[2], rank);
    return d;
}

boost::shared_ptr<CtvxPolyhedron> makePolyhedron(Mesh const& mesh)
{
    boost::shared_ptr<CtvxPolyhedronData> d = makePolyData(mesh);
    return CtvxPolyhedron::create(d);
}

boost::shared_ptr<CtvxPolyhedron> polyhedronOf(Mesh const& mesh)
{
    boost::shared_ptr<CtvxPolyhedron> p = CtvxPolyhedron::create();
    unsigned int rank = 0;
    for (auto const& q : mesh.points)
        p->addPoint(static_cast<float>(q[0]), static_cast<float>(q[1]), static_cast<float>(q[2]), rank);
    for (auto const& t : mesh.triangles)
        p->addTriangle(t[0], t[1], t[2], rank);
    return p;
}

boost::shared_ptr<CtvxPolyhedron> makeBoxEntity(double hx, double hy, double hz, double x, double y, double z)
{
    boost::shared_ptr<CtvxPolyhedron> p = makePolyhedron(makeBox(hx, hy, hz));
    CqarMat4 m;
    m(0, 3) = x;
    m(1, 3) = y;
    m(2, 3) = z;
    p->relativePosition(m);
    boost::shared_ptr<CtvxProgressDelegate> none;
    p->makeCollisionEntity(none);
    return p;
}

Affine Affine::rotation(double ax, double ay, double az, double angle)
{
    double const n = std::sqrt(ax * ax + ay * ay + az * az);
    double const x = ax / n, y = ay / n, z = az / n;
    double const c = std::cos(angle), s = std::sin(angle), f = 1.0 - c;
    Affine a;
    double const m[3][3] = {{x * x * f + c, x * y * f - z * s, x * z * f + y * s},
                            {x * y * f + z * s, y * y * f + c, y * z * f - x * s},
                            {x * z * f - y * s, y * z * f + x * s, z * z * f + c}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            a.r[i][j] = m[i][j];
    return a;
}

Affine Affine::translation(double x, double y, double z)
{
    Affine a;
    a.t[0] = x;
    a.t[1] = y;
    a.t[2] = z;
    return a;
}

std::array<double, 3> Affine::apply(std::array<double, 3> const& p) const
{
    std::array<double, 3> q;
    for (int i = 0; i < 3; ++i)
        q[i] = r[i][0] * p[0] + r[i][1] * p[1] + r[i][2] * p[2] + t[i];
    return q;
}

Affine Affine::operator*(Affine const& b) const
{
    Affine c;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            c.r[i][j] = r[i][0] * b.r[0][j] + r[i][1] * b.r[1][j] + r[i][2] * b.r[2][j];
        c.t[i] = r[i][0] * b.t[0] + r[i][1] * b.t[1] + r[i][2] * b.t[2] + t[i];
    }
    return c;
}

Affine Affine::inverseSimilarity() const
{
    // R = s Q with Q a rotation: R^-1 = R^T / s^2.
    double const s2 = r[0][0] * r[0][0] + r[1][0] * r[1][0] + r[2][0] * r[2][0];
    Affine inv;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            inv.r[i][j] = r[j][i] / s2;
    for (int i = 0; i < 3; ++i)
        inv.t[i] = -(inv.r[i][0] * t[0] + inv.r[i][1] * t[1] + inv.r[i][2] * t[2]);
    return inv;
}

Affine Affine::inverse() const
{
    double const c00 = r[1][1] * r[2][2] - r[1][2] * r[2][1];
    double const c01 = r[1][2] * r[2][0] - r[1][0] * r[2][2];
    double const c02 = r[1][0] * r[2][1] - r[1][1] * r[2][0];
    double const det = r[0][0] * c00 + r[0][1] * c01 + r[0][2] * c02;
    Affine inv;
    inv.r[0][0] = c00 / det;
    inv.r[1][0] = c01 / det;
    inv.r[2][0] = c02 / det;
    inv.r[0][1] = (r[0][2] * r[2][1] - r[0][1] * r[2][2]) / det;
    inv.r[1][1] = (r[0][0] * r[2][2] - r[0][2] * r[2][0]) / det;
    inv.r[2][1] = (r[0][1] * r[2][0] - r[0][0] * r[2][1]) / det;
    inv.r[0][2] = (r[0][1] * r[1][2] - r[0][2] * r[1][1]) / det;
    inv.r[1][2] = (r[0][2] * r[1][0] - r[0][0] * r[1][2]) / det;
    inv.r[2][2] = (r[0][0] * r[1][1] - r[0][1] * r[1][0]) / det;
    for (int i = 0; i < 3; ++i)
        inv.t[i] = -(inv.r[i][0] * t[0] + inv.r[i][1] * t[1] + inv.r[i][2] * t[2]);
    return inv;
}

double Affine::maxAbs() const
{
    double m = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m = std::max(m, std::fabs(r[i][j]));
        m = std::max(m, std::fabs(t[i]));
    }
    return m;
}

boost::shared_ptr<CtvxCollisionList> listOf(std::initializer_list<boost::shared_ptr<CtvxObject>> objects)
{
    boost::shared_ptr<CtvxCollisionList> l = CtvxCollisionList::create();
    for (boost::shared_ptr<CtvxObject> const& o : objects)
        l->add(o);
    return l;
}

boost::shared_ptr<CtvxAnalysis> analysisOf(boost::shared_ptr<CtvxCollisionList> const& l1,
                                           boost::shared_ptr<CtvxCollisionList> const& l2,
                                           CtvxAnalysis::EAnalysisType type)
{
    boost::shared_ptr<CtvxAnalysis> a = CtvxAnalysis::create();
    a->setCollisionList1(l1);
    a->setCollisionList2(l2);
    a->setAnalysisType(type);
    return a;
}

CqarMat4 toQar(Affine const& a)
{
    CqarMat4 m;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m(i, j) = a.r[i][j];
        m(i, 3) = a.t[i];
    }
    return m;
}

Affine randomRigid(Random& rng, double maxTranslation)
{
    Affine a = Affine::rotation(rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1) + 1e-3,
                                rng.uniform(-3.14159, 3.14159));
    for (int i = 0; i < 3; ++i)
        a.t[i] = rng.uniform(-maxTranslation, maxTranslation);
    return a;
}

CqarMat4 translationMat(double x, double y, double z)
{
    CqarMat4 m;
    m(0, 3) = x;
    m(1, 3) = y;
    m(2, 3) = z;
    return m;
}

CqarMat4 rotationZMat(double a)
{
    CqarMat4 m;
    m(0, 0) = std::cos(a);
    m(0, 1) = -std::sin(a);
    m(1, 0) = std::sin(a);
    m(1, 1) = std::cos(a);
    return m;
}

} // namespace tvxtest
