#pragma once

#include <tvx/tvxExport.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

class CtvxAnalysis;
class CtvxGeometryPoint;
class CtvxObject;
class CtvxPairContext;

// The answer of a distance query for one pair of objects.
//
// distance() is the clearance: the distance between the surfaces minus the
// tolerances in play. The result is exact exactly when both closest points
// are set (an exact-distance query sets them; an estimated-distance query
// gives a lower bound without points). A new result holds 1.0e13 as single
// precision (9999999827968), the bound with which a query starts. The objects
// are held weakly; the closest points are owned. Only the analysis fills it.
class TVX_API CtvxDistance {
public:
    static boost::shared_ptr<CtvxDistance> create();
    static boost::shared_ptr<CtvxDistance> create(boost::shared_ptr<CtvxObject> const& o1,
                                                  boost::shared_ptr<CtvxObject> const& o2);
    CtvxDistance(CtvxDistance const&) = default;
    CtvxDistance& operator=(CtvxDistance const&) = default;
    ~CtvxDistance();

    float distance() const { return m_distance; }
    bool isExactDistance() const { return m_closestPoint1 && m_closestPoint2; }
    int getClosestPoint1(boost::shared_ptr<CtvxGeometryPoint>& out) const;
    int getClosestPoint2(boost::shared_ptr<CtvxGeometryPoint>& out) const;
    int getObject1(boost::shared_ptr<CtvxObject>& out) const;
    int getObject2(boost::shared_ptr<CtvxObject>& out) const;

protected:
    CtvxDistance();
    void init();
    void init(boost::shared_ptr<CtvxObject> const& o1, boost::shared_ptr<CtvxObject> const& o2);

private:
    friend class CtvxAnalysis;
    friend class CtvxPairContext;

    // Replaces the distance and clears both points: the value is no longer
    // backed by closest points.
    void setDistance(float d);
    void setDistance(float d, boost::shared_ptr<CtvxGeometryPoint> const& p1,
                     boost::shared_ptr<CtvxGeometryPoint> const& p2);
    // Back to the distance and points of create(), for an analysis that did
    // not keep this result and fills it again. The objects stay: the
    // analysis names them only in a result it keeps.
    void reuse();
    void object1(boost::shared_ptr<CtvxObject> const& o) { m_object1 = o; }
    void object2(boost::shared_ptr<CtvxObject> const& o) { m_object2 = o; }
    void point1(boost::shared_ptr<CtvxGeometryPoint> const& p) { m_closestPoint1 = p; }
    void point2(boost::shared_ptr<CtvxGeometryPoint> const& p) { m_closestPoint2 = p; }
    void invariant() const {}

    boost::weak_ptr<CtvxObject> m_object1;
    boost::weak_ptr<CtvxObject> m_object2;
    float m_distance;
    boost::shared_ptr<CtvxGeometryPoint> m_closestPoint1;
    boost::shared_ptr<CtvxGeometryPoint> m_closestPoint2;
};
