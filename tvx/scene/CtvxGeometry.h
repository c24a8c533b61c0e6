#pragma once

#include <tvx/tvxExport.h>
#include <tvx/scene/CtvxObject.h>

// A leaf of the scene graph that carries geometry of its own.
//
// It adds to the object node a tolerance, by which the geometry is thickened
// for contact and distance (every reported distance is the true distance
// minus the tolerances in play), and an activation flag that takes the leaf
// in or out of analyses. A deactivated leaf has no enclosing box. The
// geometry itself, with its trees, boxes and points, is the business of the
// polyhedron classes that derive from it.
class TVX_API CtvxGeometry : public CtvxObject {
public:
    ~CtvxGeometry() override;

    double tolerance() const { return m_tolerance; }

    // A negative tolerance, or one that is not finite in single precision
    // (the boxes and the kernels carry tolerances as floats), is refused:
    // logged through CqarLogManager, the tolerance kept.
    void setTolerance(double t) override;
    int getMaxTolerance(double& m) const override;
    EActivation activation() const override;
    int activation(bool b) override;
    void invalidateSubHierarchyAbsolutePosition() override;

protected:
    CtvxGeometry();
    void init();

private:
    void activation(bool b, bool& changed) override;
    void setToleranceRecurse(double t) override;

    void invariant() const {}

    double m_tolerance = 0.0;
    bool m_isActivated = true;
};
