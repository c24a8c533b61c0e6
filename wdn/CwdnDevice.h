#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vector>

class CwdnBody;
class CwdnConfig;
class CwdnJoint;
class CwdnSpace;
class CwdnSteeringMethod;

// A device: a tree of joints carrying bodies, and the configuration space
// the planner searches.
//
// Create it, add joints parent first (the first joint is the root; a free
// flyer or planar joint can only be a root), attach bodies to the joints,
// then plan with a CwdnRoadmapBuilder. Placing the device in a configuration
// runs the forward kinematics and moves every body's geometry.
//
// Motions are checked by clearance, not by fixed steps: from each body's
// estimated distance at the two ends of a straight motion and a bound of how
// far any point of the body can travel along it (from the joint deltas, the
// link lengths and the body's bounding radius), a piece of motion is
// certified collision-free when that travel is below the sum of the two
// clearances; otherwise it is split in two and its midpoint checked. Far from
// obstacles a few checks cover a long motion. Two settings shape this:
// - resolution(): the travel of a body point that is accepted between two
//   checked configurations even when the clearances do not cover it. Near an
//   obstacle, where a clearance bound can be far below the true distance,
//   motions are then checked at this step, as a fixed-step checker would;
//   only an obstacle thinner than this (together with the body) could be
//   crossed between two checks. 0 makes the check strictly conservative,
//   at a cost that grows without bound near contact. Default 0.005.
// - movingObstacles(): true (the default) when a body's obstacles may
//   include other bodies of the same device, so both sides move; the
//   certificate then adds the largest travel of any body. Set it to false
//   when every obstacle is static: motions are then checked in about half
//   as many steps.
// A motion that still needs more than 2048 checks is refused.
class WDN_API CwdnDevice {
public:
    static boost::shared_ptr<CwdnDevice> create();

    CwdnDevice(CwdnDevice const&) = delete;
    CwdnDevice& operator=(CwdnDevice const&) = delete;
    virtual ~CwdnDevice();

    // 0, or -1 when joint is empty or already in a device, parent is not in
    // this device, or a free flyer or planar joint is given a parent (or
    // anything else is added without one after the root).
    int addJoint(boost::shared_ptr<CwdnJoint> const& joint,
                 boost::shared_ptr<CwdnJoint> const& parent = boost::shared_ptr<CwdnJoint>());
    unsigned int countJoints() const { return static_cast<unsigned int>(m_joints.size()); }
    boost::shared_ptr<CwdnJoint> joint(unsigned int i) const { return m_joints[i]; }
    // Rank of joint i's parent, -1 for the root.
    int parentRank(unsigned int i) const { return m_parentRanks[i]; }
    // Rank of joint i's first value in a configuration.
    unsigned int valueOffset(unsigned int i) const { return m_offsets[i]; }
    unsigned int configSize() const { return m_configSize; }

    // The bodies of every joint, joint after joint.
    void getBodyVector(std::vector<boost::shared_ptr<CwdnBody>>& out) const;
    unsigned int countBodies() const;
    boost::shared_ptr<CwdnSteeringMethod> steeringMethod() const { return m_steeringMethod; }

    // Runs the forward kinematics and places every body. 0, or -1 (nothing
    // moves) for a configuration of another device or of the wrong size.
    int setCurrentConfig(CwdnConfig const& config);
    void getCurrentConfig(CwdnConfig& out) const;
    void neutralValues(std::vector<double>& out) const;

    // The planner's metric: the sum over joints of the translation distance
    // plus the arc between the quaternions (half the rotation angle) for a
    // free flyer, plus the shortest angle for a planar joint, the shortest
    // angle of an unbounded revolute joint, the absolute difference of the
    // others.
    double distance(CwdnConfig const& a, CwdnConfig const& b);
    // The configuration at fraction t of the straight motion from a to b:
    // linear in translations and bounded values, spherical (slerp) in
    // rotations, the short way round for unbounded angles. 0, or -1 when a
    // or b is not a configuration of this device.
    int interpolate(CwdnConfig const& a, CwdnConfig const& b, double t, CwdnConfig& out);

    // Certifies the straight motion from a to b as above: 0 and free set
    // (false when an end collides or the motion cannot be certified), or -1
    // for configurations of another device.
    int isMotionFree(CwdnConfig const& a, CwdnConfig const& b, bool& free);

    double resolution() const { return m_resolution; }
    void resolution(double r) { m_resolution = r; }
    bool movingObstacles() const { return m_movingObstacles; }
    void movingObstacles(bool b) { m_movingObstacles = b; }

    // Configurations checked (each one places the device and asks every
    // body until one collides) since the last reset.
    unsigned long countConfigChecks() const { return m_configChecks; }
    void resetCounters() { m_configChecks = 0; }

    // Places the device at values and asks the bodies: true when none
    // collides. With clearances (one slot per body, in getBodyVector order),
    // every body is asked and its estimated distance stored.
    bool checkValues(double const* values, double* clearances);

    // The planning space built over the joints (internal to the library).
    boost::shared_ptr<CwdnSpace> space();

protected:
    CwdnDevice();
    void init(boost::shared_ptr<CwdnDevice> const& self);

private:
    void invariant() const {}
    void placeJoints(double const* values);

    boost::weak_ptr<CwdnDevice> m_self;
    std::vector<boost::shared_ptr<CwdnJoint>> m_joints;
    std::vector<int> m_parentRanks;
    std::vector<unsigned int> m_offsets;
    unsigned int m_configSize = 0;
    boost::shared_ptr<CwdnSteeringMethod> m_steeringMethod;
    boost::shared_ptr<CwdnSpace> m_space;
    double m_resolution = 0.005;
    bool m_movingObstacles = true;
    unsigned long m_configChecks = 0;
    std::vector<double> m_currentValues;
};
