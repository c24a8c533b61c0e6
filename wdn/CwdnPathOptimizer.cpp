#include <wdn/CwdnPathOptimizer.h>
#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnRandom.h>
#include <wdn/CwdnSpace.h>
#include <wdn/CwdnSteeringMethod.h>

#include <ompl/geometric/PathGeometric.h>
#include <ompl/geometric/PathSimplifier.h>

namespace ob = ompl::base;
namespace og = ompl::geometric;

CwdnPathOptimizer::CwdnPathOptimizer() = default;
CwdnPathOptimizer::~CwdnPathOptimizer() = default;

boost::shared_ptr<CwdnPathOptimizer> CwdnPathOptimizer::create(boost::shared_ptr<CwdnDevice> const& device)
{
    if (!device) {
        return boost::shared_ptr<CwdnPathOptimizer>();
    }
    boost::shared_ptr<CwdnPathOptimizer> o(new CwdnPathOptimizer());
    o->m_device = device;
    return o;
}

int CwdnPathOptimizer::optimizePath(boost::shared_ptr<CwdnPath> const& path)
{
    if (!path || path->device() != m_device || path->isEmpty()) {
        return -1;
    }
    boost::shared_ptr<CwdnSpace> const space = m_device->space();
    space->beginQueries();
    ob::SpaceInformationPtr const& si = space->si();

    og::PathGeometric geometric(si);
    ob::State* const s = si->allocState();
    space->toState(path->directPath(0)->start().data(), s);
    geometric.append(s);
    for (unsigned int i = 0; i < path->countDirectPaths(); ++i) {
        space->toState(path->directPath(i)->end().data(), s);
        geometric.append(s);
    }
    si->freeState(s);

    // The simplifier's own generator is drawn when it is made.
    cwdnReseed(m_seed);
    og::PathSimplifier simplifier(si);
    // Shortcuts only: B-spline smoothing would add waypoints.
    for (unsigned int round = 0; round < m_maxRounds; ++round) {
        bool const reduced = simplifier.reduceVertices(geometric);
        bool const shortened = simplifier.shortcutPath(geometric);
        if (!reduced && !shortened) {
            break;
        }
    }
    simplifier.collapseCloseVertices(geometric);

    boost::shared_ptr<CwdnPath> const rebuilt = CwdnPath::create(m_device);
    boost::shared_ptr<CwdnSteeringMethod> const steering = m_device->steeringMethod();
    CwdnConfig previous(m_device);
    space->fromState(geometric.getState(0), previous.data());
    for (std::size_t i = 1; i < geometric.getStateCount(); ++i) {
        CwdnConfig next(m_device);
        space->fromState(geometric.getState(i), next.data());
        if (rebuilt->appendDirectPath(steering->makeDirectPath(previous, next)) != 0) {
            return -1;
        }
        previous = next;
    }
    if (geometric.getStateCount() < 2) {
        return -1;
    }
    *path = *rebuilt;
    return 0;
}
