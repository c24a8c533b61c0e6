#include <wdn/CwdnJoint.h>
#include <wdn/CwdnBody.h>

#include <cmath>

CwdnJoint::CwdnJoint(EType type) : m_type(type) {}

CwdnJoint::~CwdnJoint() = default;

namespace {

boost::shared_ptr<CwdnJoint> finish(CwdnJoint* raw)
{
    return boost::shared_ptr<CwdnJoint>(raw);
}

} // namespace

boost::shared_ptr<CwdnJoint> CwdnJoint::createFreeFlyer(CqarVect3 const& lo, CqarVect3 const& hi)
{
    boost::shared_ptr<CwdnJoint> j = finish(new CwdnJoint(FREE_FLYER));
    for (int i = 0; i < 3; ++i) {
        j->m_lo[i] = lo[i];
        j->m_hi[i] = hi[i];
    }
    j->self(j);
    return j;
}

boost::shared_ptr<CwdnJoint> CwdnJoint::createPlanar(double xMin, double xMax, double yMin, double yMax)
{
    boost::shared_ptr<CwdnJoint> j = finish(new CwdnJoint(PLANAR));
    j->m_lo[0] = xMin;
    j->m_hi[0] = xMax;
    j->m_lo[1] = yMin;
    j->m_hi[1] = yMax;
    j->self(j);
    return j;
}

boost::shared_ptr<CwdnJoint> CwdnJoint::createRevolute()
{
    boost::shared_ptr<CwdnJoint> j = finish(new CwdnJoint(REVOLUTE));
    j->m_isBounded = false;
    j->m_lo[0] = -M_PI;
    j->m_hi[0] = M_PI;
    j->self(j);
    return j;
}

boost::shared_ptr<CwdnJoint> CwdnJoint::createRevolute(double lo, double hi)
{
    boost::shared_ptr<CwdnJoint> j = finish(new CwdnJoint(REVOLUTE));
    j->m_lo[0] = lo;
    j->m_hi[0] = hi;
    j->self(j);
    return j;
}

boost::shared_ptr<CwdnJoint> CwdnJoint::createPrismatic(double lo, double hi)
{
    boost::shared_ptr<CwdnJoint> j = finish(new CwdnJoint(PRISMATIC));
    j->m_lo[0] = lo;
    j->m_hi[0] = hi;
    j->self(j);
    return j;
}

unsigned int CwdnJoint::countValues() const
{
    switch (m_type) {
    case FREE_FLYER:
        return 7;
    case PLANAR:
        return 3;
    default:
        return 1;
    }
}

int CwdnJoint::addBody(boost::shared_ptr<CwdnBody> const& body)
{
    if (!body || body->joint()) {
        return -1;
    }
    body->joint(m_self);
    m_bodies.push_back(body);
    return 0;
}

void CwdnJoint::motion(double const* v, CqarMat4& out) const
{
    out.identity();
    switch (m_type) {
    case FREE_FLYER: {
        // Values x y z, then the quaternion x y z w.
        double const x = v[3], y = v[4], z = v[5], w = v[6];
        out(0, 0) = 1.0 - 2.0 * (y * y + z * z);
        out(0, 1) = 2.0 * (x * y - w * z);
        out(0, 2) = 2.0 * (x * z + w * y);
        out(1, 0) = 2.0 * (x * y + w * z);
        out(1, 1) = 1.0 - 2.0 * (x * x + z * z);
        out(1, 2) = 2.0 * (y * z - w * x);
        out(2, 0) = 2.0 * (x * z - w * y);
        out(2, 1) = 2.0 * (y * z + w * x);
        out(2, 2) = 1.0 - 2.0 * (x * x + y * y);
        out(0, 3) = v[0];
        out(1, 3) = v[1];
        out(2, 3) = v[2];
        break;
    }
    case PLANAR: {
        double const c = std::cos(v[2]), s = std::sin(v[2]);
        out(0, 0) = c;
        out(0, 1) = -s;
        out(1, 0) = s;
        out(1, 1) = c;
        out(0, 3) = v[0];
        out(1, 3) = v[1];
        break;
    }
    case REVOLUTE: {
        double const c = std::cos(v[0]), s = std::sin(v[0]);
        out(0, 0) = c;
        out(0, 1) = -s;
        out(1, 0) = s;
        out(1, 1) = c;
        break;
    }
    case PRISMATIC:
        out(2, 3) = v[0];
        break;
    }
}

int CwdnJoint::valuesOfMotion(CqarMat4 const& m, double* v) const
{
    if (m_type == PLANAR) {
        v[0] = m(0, 3);
        v[1] = m(1, 3);
        v[2] = std::atan2(m(1, 0), m(0, 0));
        return 0;
    }
    if (m_type != FREE_FLYER) {
        return -1;
    }
    v[0] = m(0, 3);
    v[1] = m(1, 3);
    v[2] = m(2, 3);
    // The largest of the four pivots keeps the division well conditioned,
    // half-turns included.
    double const tr = m(0, 0) + m(1, 1) + m(2, 2);
    double w, x, y, z;
    if (tr >= m(0, 0) && tr >= m(1, 1) && tr >= m(2, 2)) {
        double const s = 2.0 * std::sqrt(1.0 + tr);
        w = 0.25 * s;
        x = (m(2, 1) - m(1, 2)) / s;
        y = (m(0, 2) - m(2, 0)) / s;
        z = (m(1, 0) - m(0, 1)) / s;
    } else if (m(0, 0) >= m(1, 1) && m(0, 0) >= m(2, 2)) {
        double const s = 2.0 * std::sqrt(1.0 + m(0, 0) - m(1, 1) - m(2, 2));
        w = (m(2, 1) - m(1, 2)) / s;
        x = 0.25 * s;
        y = (m(0, 1) + m(1, 0)) / s;
        z = (m(0, 2) + m(2, 0)) / s;
    } else if (m(1, 1) >= m(2, 2)) {
        double const s = 2.0 * std::sqrt(1.0 + m(1, 1) - m(0, 0) - m(2, 2));
        w = (m(0, 2) - m(2, 0)) / s;
        x = (m(0, 1) + m(1, 0)) / s;
        y = 0.25 * s;
        z = (m(1, 2) + m(2, 1)) / s;
    } else {
        double const s = 2.0 * std::sqrt(1.0 + m(2, 2) - m(0, 0) - m(1, 1));
        w = (m(1, 0) - m(0, 1)) / s;
        x = (m(0, 2) + m(2, 0)) / s;
        y = (m(1, 2) + m(2, 1)) / s;
        z = 0.25 * s;
    }
    double const n = std::sqrt(w * w + x * x + y * y + z * z);
    double const sign = w < 0.0 ? -1.0 : 1.0;
    v[3] = sign * x / n;
    v[4] = sign * y / n;
    v[5] = sign * z / n;
    v[6] = sign * w / n;
    return 0;
}
