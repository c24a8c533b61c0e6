#include <wdn/CwdnDevice.h>
#include <wdn/CwdnBody.h>
#include <wdn/CwdnConfig.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnSpace.h>
#include <wdn/CwdnSteeringMethod.h>

CwdnDevice::CwdnDevice() = default;
CwdnDevice::~CwdnDevice() = default;

boost::shared_ptr<CwdnDevice> CwdnDevice::create()
{
    boost::shared_ptr<CwdnDevice> d(new CwdnDevice());
    d->init(d);
    return d;
}

void CwdnDevice::init(boost::shared_ptr<CwdnDevice> const& self)
{
    m_self = self;
    m_steeringMethod = CwdnSteeringMethod::create(self);
}

int CwdnDevice::addJoint(boost::shared_ptr<CwdnJoint> const& joint, boost::shared_ptr<CwdnJoint> const& parent)
{
    if (!joint || joint->parent()) {
        return -1;
    }
    for (boost::shared_ptr<CwdnJoint> const& j : m_joints) {
        if (j == joint) {
            return -1;
        }
    }
    bool const rootOnly = joint->type() == CwdnJoint::FREE_FLYER || joint->type() == CwdnJoint::PLANAR;
    int parentRank = -1;
    if (parent) {
        for (std::size_t i = 0; i < m_joints.size(); ++i) {
            if (m_joints[i] == parent) {
                parentRank = static_cast<int>(i);
            }
        }
        if (parentRank < 0 || rootOnly) {
            return -1;
        }
    } else if (!m_joints.empty()) {
        return -1;
    }
    joint->parent(parent);
    m_joints.push_back(joint);
    m_parentRanks.push_back(parentRank);
    m_offsets.push_back(m_configSize);
    m_configSize += joint->countValues();
    m_space.reset();
    neutralValues(m_currentValues);
    placeJoints(m_currentValues.data());
    return 0;
}

void CwdnDevice::getBodyVector(std::vector<boost::shared_ptr<CwdnBody>>& out) const
{
    out.clear();
    for (boost::shared_ptr<CwdnJoint> const& j : m_joints) {
        for (unsigned int k = 0; k < j->countBodies(); ++k) {
            out.push_back(j->body(k));
        }
    }
}

unsigned int CwdnDevice::countBodies() const
{
    unsigned int n = 0;
    for (boost::shared_ptr<CwdnJoint> const& j : m_joints) {
        n += j->countBodies();
    }
    return n;
}

void CwdnDevice::neutralValues(std::vector<double>& out) const
{
    out.assign(m_configSize, 0.0);
    for (std::size_t i = 0; i < m_joints.size(); ++i) {
        if (m_joints[i]->type() == CwdnJoint::FREE_FLYER) {
            out[m_offsets[i] + 6] = 1.0; // quaternion x y z w of the identity
        }
    }
}

void CwdnDevice::placeJoints(double const* values)
{
    CqarMat4 motion;
    for (std::size_t i = 0; i < m_joints.size(); ++i) {
        CwdnJoint& j = *m_joints[i];
        j.motion(values + m_offsets[i], motion);
        if (m_parentRanks[i] >= 0) {
            j.currentPosition(m_joints[m_parentRanks[i]]->currentPosition() * j.relativePosition() * motion);
        } else {
            j.currentPosition(j.relativePosition() * motion);
        }
    }
}

int CwdnDevice::setCurrentConfig(CwdnConfig const& config)
{
    if (config.device().get() != this || config.size() != m_configSize) {
        return -1;
    }
    m_currentValues = config.values();
    placeJoints(config.data());
    for (boost::shared_ptr<CwdnJoint> const& j : m_joints) {
        for (unsigned int k = 0; k < j->countBodies(); ++k) {
            j->body(k)->updateAbsolutePosition();
        }
    }
    return 0;
}

void CwdnDevice::getCurrentConfig(CwdnConfig& out) const
{
    out = CwdnConfig(m_self.lock());
    for (unsigned int i = 0; i < m_configSize && i < m_currentValues.size(); ++i) {
        out[i] = m_currentValues[i];
    }
}

bool CwdnDevice::checkValues(double const* values, double* clearances)
{
    ++m_configChecks;
    m_currentValues.assign(values, values + m_configSize);
    placeJoints(values);
    // Every body is placed before any is asked: a body's obstacles may be
    // other bodies of this device.
    for (boost::shared_ptr<CwdnJoint> const& j : m_joints) {
        for (unsigned int k = 0; k < j->countBodies(); ++k) {
            j->body(k)->updateAbsolutePosition();
        }
    }
    unsigned int b = 0;
    for (boost::shared_ptr<CwdnJoint> const& j : m_joints) {
        for (unsigned int k = 0; k < j->countBodies(); ++k, ++b) {
            CwdnBody& body = *j->body(k);
            if (!body.computeEstimatedDistance()) {
                return false;
            }
            if (clearances != nullptr) {
                clearances[b] = body.estimatedDistance();
            }
        }
    }
    return true;
}

boost::shared_ptr<CwdnSpace> CwdnDevice::space()
{
    if (!m_space) {
        m_space.reset(new CwdnSpace(*this));
    }
    return m_space;
}

double CwdnDevice::distance(CwdnConfig const& a, CwdnConfig const& b)
{
    if (a.size() != m_configSize || b.size() != m_configSize) {
        return 0.0;
    }
    return space()->distance(a.data(), b.data());
}

int CwdnDevice::interpolate(CwdnConfig const& a, CwdnConfig const& b, double t, CwdnConfig& out)
{
    if (a.device().get() != this || b.device().get() != this || a.size() != m_configSize ||
        b.size() != m_configSize) {
        return -1;
    }
    out = a;
    space()->interpolate(a.data(), b.data(), t, out.data());
    return 0;
}

int CwdnDevice::isMotionFree(CwdnConfig const& a, CwdnConfig const& b, bool& free)
{
    free = false;
    if (a.device().get() != this || b.device().get() != this || a.size() != m_configSize ||
        b.size() != m_configSize || m_configSize == 0) {
        return -1;
    }
    boost::shared_ptr<CwdnSpace> const s = space();
    s->beginQueries();
    free = s->checkMotion(a.data(), b.data());
    return 0;
}
