#include <wdn/CwdnSpace.h>
#include <wdn/CwdnBody.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnJoint.h>

#include <ompl/base/MotionValidator.h>
#include <ompl/base/StateValidityChecker.h>
#include <ompl/base/spaces/RealVectorStateSpace.h>
#include <ompl/base/spaces/SE2StateSpace.h>
#include <ompl/base/spaces/SE3StateSpace.h>
#include <ompl/base/spaces/SO2StateSpace.h>
#include <ompl/util/Console.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace ob = ompl::base;

namespace {

// Travel bounds are sums of products of doubles (a few roundings each) and
// interpolated configurations are a few roundings off the exact straight
// motion; a relative margin of 1e-9 covers both, far below any clearance
// worth certifying.
constexpr double kTravelSafety = 1.0 + 1e-9;
// Deepest bisection of one motion: a piece of 2^-30 of it. A motion whose
// pieces still cannot be certified at that size grazes an obstacle (the
// clearance tends to 0 without a contact) and is refused.
constexpr unsigned int kMaxDepth = 30;
constexpr double kMinFraction = 1.0 / 1073741824.0;
// Most configurations checked to certify one motion. A lower bound of the
// clearance can be far below the true distance (an estimate may report a
// thousandth of it near contact), and a motion that slides along an obstacle
// then needs pieces too small to count; past this budget the motion is
// refused as not certifiable, which keeps every check bounded in time and
// memory.
constexpr std::size_t kMaxChecksPerMotion = 2048;
// Configurations remembered with their clearances: a new roadmap node is
// the end point of every motion towards its (up to ten) neighbours.
constexpr unsigned int kCacheSize = 16;

class ValidityChecker : public ob::StateValidityChecker {
public:
    ValidityChecker(ob::SpaceInformation* si, CwdnSpace& space)
        : ob::StateValidityChecker(si), m_space(space), m_values(space.size())
    {
    }
    bool isValid(ob::State const* s) const override
    {
        if (!si_->satisfiesBounds(s)) {
            return false;
        }
        m_space.fromState(s, m_values.data());
        return m_space.isValid(m_values.data());
    }

private:
    CwdnSpace& m_space;
    mutable std::vector<double> m_values;
};

class MotionValidator : public ob::MotionValidator {
public:
    MotionValidator(ob::SpaceInformation* si, CwdnSpace& space)
        : ob::MotionValidator(si), m_space(space), m_a(space.size()), m_b(space.size())
    {
    }
    bool checkMotion(ob::State const* s1, ob::State const* s2) const override
    {
        m_space.fromState(s1, m_a.data());
        m_space.fromState(s2, m_b.data());
        bool const ok = si_->satisfiesBounds(s2) && m_space.checkMotion(m_a.data(), m_b.data());
        (ok ? valid_ : invalid_)++;
        return ok;
    }
    bool checkMotion(ob::State const* s1, ob::State const* s2,
                     std::pair<ob::State*, double>& lastValid) const override
    {
        m_space.fromState(s1, m_a.data());
        m_space.fromState(s2, m_b.data());
        double reached = 0.0;
        bool const ok = m_space.checkMotion(m_a.data(), m_b.data(), reached);
        if (!ok) {
            lastValid.second = reached;
            if (lastValid.first != nullptr) {
                si_->getStateSpace()->interpolate(s1, s2, reached, lastValid.first);
            }
        }
        (ok ? valid_ : invalid_)++;
        return ok;
    }

private:
    CwdnSpace& m_space;
    mutable std::vector<double> m_a;
    mutable std::vector<double> m_b;
};

double vectorNorm(double x, double y, double z)
{
    return std::sqrt(x * x + y * y + z * z);
}

// The shortest angle between two angles given in radians.
double angleBetween(double a, double b)
{
    double d = std::fmod(std::fabs(a - b), 2.0 * M_PI);
    if (d > M_PI) {
        d = 2.0 * M_PI - d;
    }
    return d;
}

} // namespace

CwdnSpace::CwdnSpace(CwdnDevice& device) : m_device(device)
{
    // INFO messages ("created N states") would go to the host's stdout.
    ompl::msg::setLogLevel(ompl::msg::LOG_WARN);

    auto compound = std::make_shared<ob::CompoundStateSpace>();
    unsigned int const n = device.countJoints();
    m_parent.resize(n);
    m_linkLength.resize(n);
    for (unsigned int i = 0; i < n; ++i) {
        boost::shared_ptr<CwdnJoint> const j = device.joint(i);
        m_parent[i] = device.parentRank(i);
        CqarMat4 const& rel = j->relativePosition();
        m_linkLength[i] = vectorNorm(rel(0, 3), rel(1, 3), rel(2, 3));
        switch (j->type()) {
        case CwdnJoint::FREE_FLYER: {
            auto s = std::make_shared<ob::SE3StateSpace>();
            ob::RealVectorBounds b(3);
            for (unsigned int k = 0; k < 3; ++k) {
                b.setLow(k, j->lowerBound(k));
                b.setHigh(k, j->upperBound(k));
            }
            s->setBounds(b);
            compound->addSubspace(s, 1.0);
            break;
        }
        case CwdnJoint::PLANAR: {
            auto s = std::make_shared<ob::SE2StateSpace>();
            ob::RealVectorBounds b(2);
            for (unsigned int k = 0; k < 2; ++k) {
                b.setLow(k, j->lowerBound(k));
                b.setHigh(k, j->upperBound(k));
            }
            s->setBounds(b);
            compound->addSubspace(s, 1.0);
            break;
        }
        case CwdnJoint::REVOLUTE:
            if (!j->isBounded()) {
                compound->addSubspace(std::make_shared<ob::SO2StateSpace>(), 1.0);
                break;
            }
            [[fallthrough]];
        case CwdnJoint::PRISMATIC: {
            auto s = std::make_shared<ob::RealVectorStateSpace>(1);
            s->setBounds(j->lowerBound(0), j->upperBound(0));
            compound->addSubspace(s, 1.0);
            if (j->type() == CwdnJoint::PRISMATIC) {
                m_linkLength[i] += std::max(std::fabs(j->lowerBound(0)), std::fabs(j->upperBound(0)));
            }
            break;
        }
        }
    }
    compound->lock();
    m_space = compound;
    m_size = device.configSize();
    m_si = std::make_shared<ob::SpaceInformation>(m_space);
    m_si->setStateValidityChecker(std::make_shared<ValidityChecker>(m_si.get(), *this));
    m_si->setMotionValidator(std::make_shared<MotionValidator>(m_si.get(), *this));
    m_si->setup();

    m_stateA = m_space->allocState();
    m_stateB = m_space->allocState();
    m_stateOut = m_space->allocState();
    m_jointDelta.resize(2 * n);
    m_mid.resize(m_size);
    m_cache.resize(kCacheSize);
}

CwdnSpace::~CwdnSpace()
{
    m_space->freeState(m_stateA);
    m_space->freeState(m_stateB);
    m_space->freeState(m_stateOut);
}

void CwdnSpace::toState(double const* values, ob::State* state) const
{
    for (unsigned int i = 0; i < m_size; ++i) {
        *m_space->getValueAddressAtIndex(state, i) = values[i];
    }
}

void CwdnSpace::fromState(ob::State const* state, double* values) const
{
    for (unsigned int i = 0; i < m_size; ++i) {
        values[i] = *m_space->getValueAddressAtIndex(state, i);
    }
}

void CwdnSpace::interpolate(double const* a, double const* b, double t, double* out) const
{
    toState(a, m_stateA);
    toState(b, m_stateB);
    m_space->interpolate(m_stateA, m_stateB, t, m_stateOut);
    fromState(m_stateOut, out);
}

double CwdnSpace::distance(double const* a, double const* b) const
{
    toState(a, m_stateA);
    toState(b, m_stateB);
    return m_space->distance(m_stateA, m_stateB);
}

void CwdnSpace::beginQueries()
{
    for (CacheEntry& e : m_cache) {
        e.used = false;
    }
    m_radiiValid = false;
}

void CwdnSpace::refreshRadii()
{
    std::vector<boost::shared_ptr<CwdnBody>> bodies;
    m_device.getBodyVector(bodies);
    m_bodyCount = static_cast<unsigned int>(bodies.size());
    m_bodyJoint.assign(m_bodyCount, 0);
    m_radius.assign(m_bodyCount, 0.0);
    unsigned int b = 0;
    for (unsigned int j = 0; j < m_device.countJoints(); ++j) {
        boost::shared_ptr<CwdnJoint> const joint = m_device.joint(j);
        for (unsigned int k = 0; k < joint->countBodies(); ++k, ++b) {
            m_bodyJoint[b] = j;
            CqarMat4 const& at = bodies[b]->absolutePosition();
            m_radius[b] = bodies[b]->getBoundingSphereRadius(CqarPoint3(at(0, 3), at(1, 3), at(2, 3)));
        }
    }
    m_travel.resize(m_bodyCount);
    m_c0.resize(m_bodyCount);
    m_c1.resize(m_bodyCount);
    for (CacheEntry& e : m_cache) {
        e.used = false;
    }
    m_radiiValid = true;
}

bool CwdnSpace::clearances(double const* values, double* out)
{
    if (!m_radiiValid || m_device.countBodies() != m_bodyCount) {
        refreshRadii();
    }
    for (CacheEntry& e : m_cache) {
        if (e.used && std::equal(e.values.begin(), e.values.end(), values)) {
            if (e.valid) {
                std::copy(e.clearances.begin(), e.clearances.end(), out);
            }
            return e.valid;
        }
    }
    bool const valid = m_device.checkValues(values, out);
    CacheEntry& e = m_cache[m_cacheNext];
    m_cacheNext = (m_cacheNext + 1) % kCacheSize;
    e.values.assign(values, values + m_size);
    e.clearances.assign(out, out + m_bodyCount);
    e.valid = valid;
    e.used = true;
    return valid;
}

bool CwdnSpace::isValid(double const* values)
{
    if (!m_radiiValid || m_device.countBodies() != m_bodyCount) {
        refreshRadii();
    }
    return clearances(values, m_c0.data());
}

void CwdnSpace::travelBounds(double const* a, double const* b, double* out)
{
    unsigned int const n = m_device.countJoints();
    // Per joint: the travel of its origin (T) and its rotation angle (A).
    for (unsigned int j = 0; j < n; ++j) {
        boost::shared_ptr<CwdnJoint> const joint = m_device.joint(j);
        unsigned int const o = m_device.valueOffset(j);
        double& T = m_jointDelta[2 * j];
        double& A = m_jointDelta[2 * j + 1];
        switch (joint->type()) {
        case CwdnJoint::FREE_FLYER: {
            T = vectorNorm(a[o] - b[o], a[o + 1] - b[o + 1], a[o + 2] - b[o + 2]);
            double const na = std::sqrt(a[o + 3] * a[o + 3] + a[o + 4] * a[o + 4] + a[o + 5] * a[o + 5] +
                                        a[o + 6] * a[o + 6]);
            double const nb = std::sqrt(b[o + 3] * b[o + 3] + b[o + 4] * b[o + 4] + b[o + 5] * b[o + 5] +
                                        b[o + 6] * b[o + 6]);
            double dot = (a[o + 3] * b[o + 3] + a[o + 4] * b[o + 4] + a[o + 5] * b[o + 5] + a[o + 6] * b[o + 6]) /
                         (na * nb);
            dot = std::min(1.0, std::fabs(dot));
            // q and -q are one rotation; the rotation angle is twice the
            // arc between the quaternions, and slerp turns at a constant rate.
            A = 2.0 * std::acos(dot);
            break;
        }
        case CwdnJoint::PLANAR:
            T = std::hypot(a[o] - b[o], a[o + 1] - b[o + 1]);
            A = angleBetween(a[o + 2], b[o + 2]);
            break;
        case CwdnJoint::REVOLUTE:
            T = 0.0;
            A = joint->isBounded() ? std::fabs(a[o] - b[o]) : angleBetween(a[o], b[o]);
            break;
        case CwdnJoint::PRISMATIC:
            T = std::fabs(a[o] - b[o]);
            A = 0.0;
            break;
        }
    }
    // A point of body k at most `arm` from the origin of joint j moves by at
    // most T_j + A_j * arm when joint j alone moves; the arm grows by the
    // link lengths on the way up, which no joint motion can stretch.
    for (unsigned int k = 0; k < m_bodyCount; ++k) {
        double arm = m_radius[k];
        double total = 0.0;
        for (int j = static_cast<int>(m_bodyJoint[k]); j >= 0; j = m_parent[j]) {
            total += m_jointDelta[2 * j] + m_jointDelta[2 * j + 1] * arm;
            arm += m_linkLength[j];
        }
        out[k] = total * kTravelSafety;
    }
    if (m_device.movingObstacles() && m_bodyCount > 1) {
        double const largest = *std::max_element(out, out + m_bodyCount);
        for (unsigned int k = 0; k < m_bodyCount; ++k) {
            out[k] += largest;
        }
    }
}

bool CwdnSpace::certified(double const* travel, double const* c0, double const* c1, double fraction) const
{
    double const resolution = m_device.resolution();
    for (unsigned int k = 0; k < m_bodyCount; ++k) {
        double const d = travel[k] * fraction;
        double const a = std::max(c0[k], 0.0);
        double const b = std::max(c1[k], 0.0);
        // Every point within d of where it was at either end: the two balls
        // of free space around the ends cover the whole piece. Short of
        // that, a piece is accepted once no point travels more than the
        // resolution along it.
        if (d < a + b || d <= resolution) {
            continue;
        }
        return false;
    }
    return true;
}

bool CwdnSpace::bisect(double const* a, double const* b)
{
    // Breadth first: the coarse midpoints are checked before any fine one,
    // so a blocked motion is usually refused after a few checks. Pieces wait
    // in a queue with the rank of the clearances at their two ends.
    if (m_bodyCount == 0) {
        return true;
    }
    m_pieces.clear();
    m_pool.resize(2 * static_cast<std::size_t>(m_bodyCount));
    std::copy(m_c0.begin(), m_c0.end(), m_pool.begin());
    std::copy(m_c1.begin(), m_c1.end(), m_pool.begin() + m_bodyCount);
    m_pieces.push_back(Piece{0.0, 1.0, 0, 1, 0});
    for (std::size_t next = 0; next < m_pieces.size(); ++next) {
        Piece const p = m_pieces[next];
        double const* c0 = m_pool.data() + p.c0 * m_bodyCount;
        double const* c1 = m_pool.data() + p.c1 * m_bodyCount;
        if (certified(m_travel.data(), c0, c1, p.t1 - p.t0)) {
            continue;
        }
        if (p.depth >= kMaxDepth || m_pieces.size() >= 2 * kMaxChecksPerMotion) {
            return false;
        }
        double const tm = 0.5 * (p.t0 + p.t1);
        interpolate(a, b, tm, m_mid.data());
        std::size_t const cm = m_pool.size() / m_bodyCount;
        m_pool.resize(m_pool.size() + m_bodyCount);
        if (!clearances(m_mid.data(), m_pool.data() + cm * m_bodyCount)) {
            return false;
        }
        m_pieces.push_back(Piece{p.t0, tm, p.c0, cm, p.depth + 1});
        m_pieces.push_back(Piece{tm, p.t1, cm, p.c1, p.depth + 1});
    }
    return true;
}

bool CwdnSpace::checkMotion(double const* a, double const* b)
{
    ++m_motionChecks;
    if (!m_radiiValid || m_device.countBodies() != m_bodyCount) {
        refreshRadii();
    }
    if (!clearances(a, m_c0.data()) || !clearances(b, m_c1.data())) {
        return false;
    }
    travelBounds(a, b, m_travel.data());
    return bisect(a, b);
}

bool CwdnSpace::checkMotion(double const* a, double const* b, double& lastValid)
{
    ++m_motionChecks;
    if (!m_radiiValid || m_device.countBodies() != m_bodyCount) {
        refreshRadii();
    }
    lastValid = 0.0;
    if (!clearances(a, m_c0.data())) {
        return false;
    }
    travelBounds(a, b, m_travel.data());
    double const resolution = m_device.resolution();
    double t = 0.0;
    for (std::size_t checks = 0;; ++checks) {
        if (checks >= kMaxChecksPerMotion) {
            lastValid = t;
            return false;
        }
        // The largest step that the free ball around the configuration at t
        // covers for every body (or the resolution without a clearance).
        double step = 1.0 - t;
        for (unsigned int k = 0; k < m_bodyCount; ++k) {
            double const d = m_travel[k];
            if (d <= 0.0) {
                continue;
            }
            double const reach = std::max(m_c0[k], resolution);
            step = std::min(step, reach / d);
        }
        if (step < kMinFraction) {
            lastValid = t;
            return false;
        }
        double const tn = t + step >= 1.0 ? 1.0 : t + step;
        if (tn >= 1.0) {
            std::copy(b, b + m_size, m_mid.begin());
        } else {
            interpolate(a, b, tn, m_mid.data());
        }
        if (!clearances(m_mid.data(), m_c0.data())) {
            lastValid = t;
            return false;
        }
        if (tn >= 1.0) {
            return true;
        }
        t = tn;
    }
}
