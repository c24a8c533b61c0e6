#include "PlannerFixtures.h"

#include <wdn/CwdnDevice.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnPath.h>

#include <algorithm>
#include <cmath>

namespace tvxtest {

void AnalyticObstacles::addBox(double x0, double y0, double z0, double x1, double y1, double z1)
{
    boxes.push_back(Box{{x0, y0, z0}, {x1, y1, z1}});
}

void AnalyticObstacles::addSphere(double x, double y, double z, double r)
{
    spheres.push_back(Sphere{{x, y, z}, r});
}

double AnalyticObstacles::distance(double const* p) const
{
    double best = 1e9;
    for (Box const& b : boxes) {
        double s = 0.0;
        for (int i = 0; i < 3; ++i) {
            double const d = std::max({b.lo[i] - p[i], 0.0, p[i] - b.hi[i]});
            s += d * d;
        }
        best = std::min(best, std::sqrt(s));
    }
    for (Sphere const& s : spheres) {
        double const d = std::sqrt((p[0] - s.c[0]) * (p[0] - s.c[0]) + (p[1] - s.c[1]) * (p[1] - s.c[1]) +
                                   (p[2] - s.c[2]) * (p[2] - s.c[2])) -
                         s.r;
        best = std::min(best, d);
    }
    return best;
}

boost::shared_ptr<SpheresBody> SpheresBody::create(std::vector<Ball> const& balls,
                                                   boost::shared_ptr<AnalyticObstacles> const& obstacles)
{
    boost::shared_ptr<SpheresBody> b(new SpheresBody());
    b->m_balls = balls;
    b->m_obstacles = obstacles;
    if (b->init(b) != 0) {
        return boost::shared_ptr<SpheresBody>();
    }
    return b;
}

double SpheresBody::clearance() const
{
    double best = 1e9;
    for (Ball const& ball : m_balls) {
        CqarPoint3 const w = m_placed * CqarPoint3(ball.c[0], ball.c[1], ball.c[2]);
        double const p[3] = {w[0], w[1], w[2]};
        best = std::min(best, m_obstacles->distance(p) - ball.r);
    }
    return best;
}

bool SpheresBody::computeEstimatedDistance()
{
    ++distanceQueries;
    double const c = clearance();
    if (c <= 0.0) {
        return false;
    }
    estimatedDistance(c * reportFactor);
    return true;
}

double SpheresBody::getBoundingSphereRadius(CqarPoint3 const& center) const
{
    double r = 0.0;
    for (Ball const& ball : m_balls) {
        CqarPoint3 const w = absolutePosition() * CqarPoint3(ball.c[0], ball.c[1], ball.c[2]);
        r = std::max(r, w.distanceFrom(center) + ball.r);
    }
    return r;
}

void SpheresBody::placeBody(CqarMat4 const& m)
{
    m_placed = m;
}

void SpheresBody::scaleBalls(double factor)
{
    for (Ball& b : m_balls) {
        for (double& c : b.c) {
            c *= factor;
        }
        b.r *= factor;
    }
}

boost::shared_ptr<CwdnDevice> makeFreeFlyerRod(double length, double radius, double bound,
                                               boost::shared_ptr<AnalyticObstacles> const& obstacles)
{
    boost::shared_ptr<CwdnDevice> d = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> j =
        CwdnJoint::createFreeFlyer(CqarVect3(-bound, -bound, -bound), CqarVect3(bound, bound, bound));
    d->addJoint(j);
    std::vector<SpheresBody::Ball> balls;
    int const n = std::max(1, static_cast<int>(std::ceil(length / radius)));
    for (int i = 0; i <= n; ++i) {
        double const x = -0.5 * length + length * i / n;
        balls.push_back(SpheresBody::Ball{{x, 0.0, 0.0}, radius});
    }
    j->addBody(SpheresBody::create(balls, obstacles));
    d->movingObstacles(false);
    return d;
}

boost::shared_ptr<AnalyticObstacles> makeWallWithHole(double half, double bound)
{
    auto o = boost::shared_ptr<AnalyticObstacles>(new AnalyticObstacles());
    double const t = 0.1;
    o->addBox(-t, -bound, -bound, t, -half, bound);
    o->addBox(-t, half, -bound, t, bound, bound);
    o->addBox(-t, -half, -bound, t, half, -half);
    o->addBox(-t, -half, half, t, half, bound);
    return o;
}

boost::shared_ptr<CwdnDevice> makePlanarArm(unsigned int links, double linkLength,
                                            boost::shared_ptr<AnalyticObstacles> const& obstacles)
{
    boost::shared_ptr<CwdnDevice> d = CwdnDevice::create();
    boost::shared_ptr<CwdnJoint> parent;
    for (unsigned int i = 0; i < links; ++i) {
        boost::shared_ptr<CwdnJoint> j = CwdnJoint::createRevolute(-M_PI, M_PI);
        CqarMat4 rel;
        if (i > 0) {
            rel(0, 3) = linkLength;
        }
        j->relativePosition(rel);
        d->addJoint(j, parent);
        std::vector<SpheresBody::Ball> balls;
        for (int k = 1; k <= 4; ++k) {
            balls.push_back(SpheresBody::Ball{{linkLength * k / 4.0, 0.0, 0.0}, 0.1});
        }
        j->addBody(SpheresBody::create(balls, obstacles));
        parent = j;
    }
    d->movingObstacles(false);
    return d;
}

CwdnConfig flyerConfig(boost::shared_ptr<CwdnDevice> const& device, double x, double y, double z, double angle)
{
    CwdnConfig c(device);
    c[0] = x;
    c[1] = y;
    c[2] = z;
    c[3] = 0.0;
    c[4] = 0.0;
    c[5] = std::sin(0.5 * angle);
    c[6] = std::cos(0.5 * angle);
    return c;
}

double firstCollisionAlong(CwdnPath const& path, double step)
{
    double const total = path.length();
    CwdnConfig c;
    for (double s = 0.0;; s += step) {
        double const at = std::min(s, total);
        path.configAtLength(at, c);
        bool colliding = true;
        c.isColliding(colliding);
        if (colliding) {
            return at;
        }
        if (at >= total) {
            return -1.0;
        }
    }
}

} // namespace tvxtest
