#pragma once

#include <qar/qarExport.h>

// A double-precision 3-vector of the geometry utility library.
//
// Vectors and points cross every interface of the collision library in this
// type: directions, scaling centres, closest points. It is polymorphic (a
// point derives from it) and offers only what a geometry host needs: indexed
// access, sums, scaling, cross and dot products.
class QAR_API CqarVect3 {
public:
    CqarVect3();
    CqarVect3(double x, double y, double z);
    CqarVect3(CqarVect3 const&) = default;
    CqarVect3& operator=(CqarVect3 const&) = default;
    virtual ~CqarVect3();

    double& operator[](int i) { return m_v[i]; }
    double const& operator[](int i) const { return m_v[i]; }
    void setValue(double x, double y, double z);

    CqarVect3 operator+(CqarVect3 const& o) const;
    CqarVect3 operator-(CqarVect3 const& o) const;
    CqarVect3 operator*(double s) const;
    // Cross product.
    CqarVect3 operator*(CqarVect3 const& o) const;
    double scalarProduct(CqarVect3 const& o) const;
    double norm() const;

protected:
    double m_v[3];
};

// A point of the utility library: a vector with a distance.
class QAR_API CqarPoint3 : public CqarVect3 {
public:
    CqarPoint3();
    CqarPoint3(double x, double y, double z);
    explicit CqarPoint3(CqarVect3 const& v);
    CqarPoint3(CqarPoint3 const&) = default;
    CqarPoint3& operator=(CqarPoint3 const&) = default;
    CqarPoint3& operator=(CqarVect3 const& v);
    ~CqarPoint3() override;

    double distanceFrom(CqarPoint3 const& o) const;
};
