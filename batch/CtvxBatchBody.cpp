#include <batch/CtvxBatchBody.h>

#include <tvx/geometry/CtvxPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedronData.h>
#include <tvx/progress/CtvxProgressDelegate.h>

#include <cmath>

boost::shared_ptr<CtvxBatchBody> CtvxBatchBody::create()
{
    return boost::shared_ptr<CtvxBatchBody>(new CtvxBatchBody());
}

CtvxBatchBody::~CtvxBatchBody() = default;

bool CtvxBatchBody::isRigid(double const* v)
{
    for (int i = 0; i < 16; ++i)
        if (!std::isfinite(v[i]))
            return false;
    if (v[12] != 0.0 || v[13] != 0.0 || v[14] != 0.0 || v[15] != 1.0)
        return false;
    // Columns orthonormal: R^T R = I, each product within kRigidTolerance.
    for (int a = 0; a < 3; ++a) {
        for (int b = a; b < 3; ++b) {
            double const dot = v[a] * v[b] + v[4 + a] * v[4 + b] + v[8 + a] * v[8 + b];
            if (std::fabs(dot - (a == b ? 1.0 : 0.0)) > kRigidTolerance)
                return false;
        }
    }
    // Orthonormal columns give a determinant of +1 or -1: a mirror is not a
    // motion, and would turn every triangle inside out.
    double const det = v[0] * (v[5] * v[10] - v[6] * v[9]) - v[1] * (v[4] * v[10] - v[6] * v[8]) +
                       v[2] * (v[4] * v[9] - v[5] * v[8]);
    return det > 0.0;
}

bool CtvxBatchBody::isRigid(CqarMat4 const& m)
{
    double v[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            v[4 * r + c] = m(r, c);
    return isRigid(v);
}

int CtvxBatchBody::addPart(boost::shared_ptr<CtvxPolyhedronData> const& mesh, CqarMat4 const& placement,
                           double tolerance)
{
    if (!mesh || !isRigid(placement) || !std::isfinite(tolerance) || tolerance < 0.0)
        return -1;
    Part part;
    part.mesh = mesh;
    part.placement = placement;
    part.tolerance = tolerance;
    m_parts.push_back(part);
    return 0;
}

void CtvxBatchBody::buildTrees(boost::shared_ptr<CtvxProgressDelegate>& delegate)
{
    for (Part& part : m_parts) {
        if (part.keeper && part.keeperRevision == part.mesh->revision())
            continue;
        boost::shared_ptr<CtvxPolyhedronData> mesh = part.mesh;
        boost::shared_ptr<CtvxPolyhedron> keeper = CtvxPolyhedron::create(mesh);
        keeper->makeCollisionEntity(delegate);
        part.keeper = keeper;
        part.keeperRevision = part.mesh->revision();
    }
}
