#pragma once

#include <wdn/wdnExport.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vector>

class CwdnBody;
class CwdnDevice;

// One joint of a device and the bodies it carries.
//
// A joint's frame is placed in its parent joint's frame (the world frame for
// the root) by a fixed relative position, followed by the joint's own motion:
// a free flyer moves freely in space (values x y z qx qy qz qw, a unit
// quaternion), a planar joint in the plane z = 0 of that frame (x y theta), a
// revolute joint turns about the frame's z axis (theta; without bounds it
// wraps around) and a prismatic joint slides along it (d). Free flyers and
// planar joints can only be the root of a device. Bodies attached to a joint
// are placed at the joint's frame; currentPosition() is that frame in the
// world for the device's current configuration.
class WDN_API CwdnJoint {
public:
    enum EType { FREE_FLYER = 0, PLANAR = 1, REVOLUTE = 2, PRISMATIC = 3 };

    // Translations bounded by the box [lo, hi]; rotations are free.
    static boost::shared_ptr<CwdnJoint> createFreeFlyer(CqarVect3 const& lo, CqarVect3 const& hi);
    static boost::shared_ptr<CwdnJoint> createPlanar(double xMin, double xMax, double yMin, double yMax);
    // An unbounded revolute joint wraps around; a bounded one stays in [lo, hi].
    static boost::shared_ptr<CwdnJoint> createRevolute();
    static boost::shared_ptr<CwdnJoint> createRevolute(double lo, double hi);
    static boost::shared_ptr<CwdnJoint> createPrismatic(double lo, double hi);

    CwdnJoint(CwdnJoint const&) = delete;
    CwdnJoint& operator=(CwdnJoint const&) = delete;
    virtual ~CwdnJoint();

    EType type() const { return m_type; }
    // Number of configuration values: 7, 3, 1 or 1.
    unsigned int countValues() const;
    bool isBounded() const { return m_isBounded; }
    // Bounds of value i (the translations of a free flyer or planar joint,
    // the angle of a bounded revolute joint, the stroke of a prismatic one).
    double lowerBound(unsigned int i) const { return m_lo[i]; }
    double upperBound(unsigned int i) const { return m_hi[i]; }

    void relativePosition(CqarMat4 const& m) { m_relativePosition = m; }
    CqarMat4 const& relativePosition() const { return m_relativePosition; }
    boost::shared_ptr<CwdnJoint> parent() const { return m_parent.lock(); }

    // The world frame of the joint in the device's current configuration.
    CqarMat4 const& currentPosition() const { return m_currentPosition; }

    // Attaches a body; a body belongs to one joint at a time. 0, or -1 for
    // an empty pointer or a body already attached to a joint.
    int addBody(boost::shared_ptr<CwdnBody> const& body);
    unsigned int countBodies() const { return static_cast<unsigned int>(m_bodies.size()); }
    boost::shared_ptr<CwdnBody> body(unsigned int i) const { return m_bodies[i]; }

    // The joint's motion for the given values, in its own frame.
    void motion(double const* values, CqarMat4& out) const;
    // The values of a free flyer or planar joint that give the motion m (its
    // rotation block must be a rotation; a planar joint keeps the angle
    // about z only). 0, or -1 for the other types.
    int valuesOfMotion(CqarMat4 const& m, double* values) const;

protected:
    explicit CwdnJoint(EType type);

private:
    friend class CwdnDevice;
    void invariant() const {}
    void parent(boost::weak_ptr<CwdnJoint> const& p) { m_parent = p; }
    void self(boost::weak_ptr<CwdnJoint> const& s) { m_self = s; }
    void currentPosition(CqarMat4 const& m) { m_currentPosition = m; }

    EType m_type;
    bool m_isBounded = true;
    double m_lo[3] = {0.0, 0.0, 0.0};
    double m_hi[3] = {0.0, 0.0, 0.0};
    CqarMat4 m_relativePosition;
    CqarMat4 m_currentPosition;
    boost::weak_ptr<CwdnJoint> m_parent;
    boost::weak_ptr<CwdnJoint> m_self;
    std::vector<boost::shared_ptr<CwdnBody>> m_bodies;
};
