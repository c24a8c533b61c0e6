#pragma once

#include <tvx/tvxExport.h>

#include <wdn/CwdnBody.h>

#include <qar/CqarMat4.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vector>

class CtvxAnalysis;
class CtvxCollisionList;

// A body of the planning library whose geometry is this library's scene.
//
// Its inner objects are the body's own geometry: placing the body places
// each of them at the body's placement times its fixed relative position.
// Its outer objects are the obstacles, never moved by the body. The
// planner's distance question runs an ESTIMATED_DISTANCE analysis between
// the two lists: a contact means a collision, otherwise the smallest
// distance found is a lower bound of the body's clearance. A placement the
// scene refuses (not rigid: a planner's NaN, say) and a query that could not
// examine every pair (geometry without a tree) count as collisions, never as
// free space. Create one with
// create(), give it both lists (each is copied, so later changes to the
// caller's lists do not reach the body), and attach it to a joint of a
// device; the planner does the rest.
class TVX_API CwdnTVXBody : public CwdnBody {
public:
    static boost::shared_ptr<CwdnTVXBody> create();

    CwdnTVXBody(CwdnTVXBody const&) = default;
    CwdnTVXBody& operator=(CwdnTVXBody const&) = default;
    ~CwdnTVXBody() override;

    bool computeEstimatedDistance() override;
    double getBoundingSphereRadius(CqarPoint3 const& center) const override;
    void placeBody(CqarMat4 const& m) override;

    // relativePositions gives object i's placement relative to the body; an
    // object without one (a shorter vector) is placed at the body itself.
    void setInnerObjects(boost::shared_ptr<CtvxCollisionList> const& list,
                         std::vector<CqarMat4> const& relativePositions);
    void setInnerObjects(boost::shared_ptr<CtvxCollisionList> const& list);
    void setOuterObjects(boost::shared_ptr<CtvxCollisionList> const& list);
    boost::shared_ptr<CtvxCollisionList> innerObjects() const { return m_innerObjects; }
    boost::shared_ptr<CtvxCollisionList> outerObjects() const { return m_outerObjects; }

protected:
    int init(boost::weak_ptr<CwdnTVXBody> const& self);
    void invariant() const {}

private:
    CwdnTVXBody();
    // Object i's placement relative to the body (the identity when the
    // vector is too short).
    CqarMat4 const& relativePositionOf(unsigned int i) const;

    boost::shared_ptr<CtvxAnalysis> m_analysis;
    boost::shared_ptr<CtvxCollisionList> m_innerObjects;
    boost::shared_ptr<CtvxCollisionList> m_outerObjects;
    std::vector<CqarMat4> m_innerRelativePositions;
    // The last placeBody() gave some inner object a placement that is not
    // rigid, which the object refused: the body is not where it was asked.
    bool m_placementRefused = false;
};
