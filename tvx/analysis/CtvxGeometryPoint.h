#pragma once

#include <tvx/tvxExport.h>

#include <qar/CqarVect3.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

class CtvxGeometry;

// A point on a geometry, as a distance result gives its closest points.
//
// It keeps the point twice, in world coordinates and in the geometry's own
// frame (where its mesh coordinates live), stored independently: neither is
// recomputed from the other. The geometry is held weakly; once it is
// destroyed getGeometry() reports -1, and the points stay readable.
class TVX_API CtvxGeometryPoint {
public:
    // Note the order: the absolute point first.
    static boost::shared_ptr<CtvxGeometryPoint> create(boost::shared_ptr<CtvxGeometry> const& g,
                                                       CqarPoint3 const& absolute, CqarPoint3 const& relative);

    CtvxGeometryPoint(CtvxGeometryPoint const&) = default;
    CtvxGeometryPoint& operator=(CtvxGeometryPoint const&) = default;
    ~CtvxGeometryPoint();

    int getGeometry(boost::shared_ptr<CtvxGeometry>& out);
    void geometry(boost::shared_ptr<CtvxGeometry> const& g);

    void pointAbsolute(CqarPoint3& p) const;
    void pointAbsolute(float& x, float& y, float& z) const;
    void pointRelative(CqarPoint3& p) const;
    void pointRelative(float& x, float& y, float& z) const;
    void setPointAbsolute(CqarPoint3 const& p);
    void setPointRelative(CqarPoint3 const& p);

protected:
    CtvxGeometryPoint();
    void init(boost::shared_ptr<CtvxGeometry> const& g, CqarPoint3 const& absolute, CqarPoint3 const& relative);

private:
    void invariant() const {}

    boost::weak_ptr<CtvxGeometry> m_geometry;
    CqarPoint3 m_relativePoint;
    CqarPoint3 m_absolutePoint;
};
