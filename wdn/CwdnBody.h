#pragma once

#include <wdn/wdnExport.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

class CwdnJoint;

// A rigid part of a device, carried by one joint.
//
// The planner never looks at a body's geometry: it places the body where its
// joint puts it (placeBody), asks whether it collides and how far it is from
// its obstacles (computeEstimatedDistance, then estimatedDistance()), and how
// far its geometry reaches from a point (getBoundingSphereRadius). Those two
// numbers are what lets a motion be certified collision-free between two
// checked configurations. A concrete body derives from this class, is created
// through a static create() of its own that calls init() with a weak pointer
// to the new object, and is attached to a joint with CwdnJoint::addBody.
class WDN_API CwdnBody {
public:
    virtual ~CwdnBody();

    // Runs the body's collision and distance question at its current place:
    // false when it collides; otherwise true, and estimatedDistance() holds a
    // lower bound of its clearance (0 when nothing was measured).
    virtual bool computeEstimatedDistance() = 0;
    // The largest distance from center to any point of the body's geometry,
    // with the body at absolutePosition().
    virtual double getBoundingSphereRadius(CqarPoint3 const& center) const = 0;
    // Moves the body's geometry to the world placement m.
    virtual void placeBody(CqarMat4 const& m) = 0;

    // The world placement last given by the joint (identity before).
    CqarMat4 const& absolutePosition() const { return m_absolutePosition; }
    double estimatedDistance() const { return m_estimatedDistance; }
    // Reads the joint's current position, stores it and places the geometry
    // there; a body without a joint stays where it is.
    void updateAbsolutePosition();
    // The joint that carries the body; empty before it is attached.
    boost::shared_ptr<CwdnJoint> joint() const { return m_joint.lock(); }

protected:
    CwdnBody();
    CwdnBody(CwdnBody const&) = default;
    CwdnBody& operator=(CwdnBody const&) = default;

    // 0, or -1 when self has expired.
    int init(boost::weak_ptr<CwdnBody> const& self);
    void estimatedDistance(double d) { m_estimatedDistance = d; }
    boost::shared_ptr<CwdnBody> selfShPtr() const { return m_self.lock(); }

private:
    friend class CwdnJoint;
    void joint(boost::weak_ptr<CwdnJoint> const& j) { m_joint = j; }

    CqarMat4 m_absolutePosition;
    double m_estimatedDistance = 0.0;
    boost::weak_ptr<CwdnJoint> m_joint;
    boost::weak_ptr<CwdnBody> m_self;
};
