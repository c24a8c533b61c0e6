#pragma once

#include <wdn/CwdnBody.h>
#include <wdn/CwdnConfig.h>

#include <boost/shared_ptr.hpp>

#include <vector>

class CwdnDevice;
class CwdnPath;

namespace tvxtest {

// Analytic obstacles for planner tests: axis-aligned boxes and spheres, with
// exact point distances computed in double precision.
struct AnalyticObstacles {
    struct Box {
        double lo[3];
        double hi[3];
    };
    struct Sphere {
        double c[3];
        double r;
    };
    std::vector<Box> boxes;
    std::vector<Sphere> spheres;

    void addBox(double x0, double y0, double z0, double x1, double y1, double z1);
    void addSphere(double x, double y, double z, double r);
    // Signed distance from p to the nearest obstacle (negative inside a
    // sphere, 0 inside a box); a large value without obstacles.
    double distance(double const* p) const;
};

// A planner body made of spheres fixed in its frame, against analytic
// obstacles: its clearance is the exact distance, so every answer the
// planner relies on can be checked by hand. Counts the questions it gets.
class SpheresBody : public CwdnBody {
public:
    struct Ball {
        double c[3];
        double r;
    };
    static boost::shared_ptr<SpheresBody> create(std::vector<Ball> const& balls,
                                                 boost::shared_ptr<AnalyticObstacles> const& obstacles);

    bool computeEstimatedDistance() override;
    double getBoundingSphereRadius(CqarPoint3 const& center) const override;
    void placeBody(CqarMat4 const& m) override;

    // The exact clearance at the last placement (negative when colliding).
    double clearance() const;
    // Scales the balls about the body's origin.
    void scaleBalls(double factor);
    unsigned long distanceQueries = 0;
    // A clearance under-reporting factor (1 = exact), to mimic a distance
    // that is only a lower bound.
    double reportFactor = 1.0;

protected:
    SpheresBody() = default;

private:
    std::vector<Ball> m_balls;
    boost::shared_ptr<AnalyticObstacles> m_obstacles;
    CqarMat4 m_placed;
};

// A rod of `length` along x, made of balls of radius `radius`, on a free
// flyer bounded by [-bound, bound]^3, with the obstacles given.
boost::shared_ptr<CwdnDevice> makeFreeFlyerRod(double length, double radius, double bound,
                                               boost::shared_ptr<AnalyticObstacles> const& obstacles);
// A wall x in [-0.1, 0.1] spanning [-bound, bound] in y and z, with a square
// hole of half width `half` around the x axis.
boost::shared_ptr<AnalyticObstacles> makeWallWithHole(double half, double bound);
// A planar arm of `links` revolute links of length `linkLength` (balls of
// radius 0.1 along each link), rooted at the origin, between obstacles.
boost::shared_ptr<CwdnDevice> makePlanarArm(unsigned int links, double linkLength,
                                            boost::shared_ptr<AnalyticObstacles> const& obstacles);

// A free-flyer configuration at (x, y, z) turned by angle about z.
CwdnConfig flyerConfig(boost::shared_ptr<CwdnDevice> const& device, double x, double y, double z, double angle);

// Re-checks a path by placing the device every `step` of its metric along
// it; the first colliding arc length, or -1 when none collides.
double firstCollisionAlong(CwdnPath const& path, double step);

} // namespace tvxtest
