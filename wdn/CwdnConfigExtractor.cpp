#include <wdn/CwdnConfigExtractor.h>
#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnRandom.h>
#include <wdn/CwdnSpace.h>

namespace ob = ompl::base;

namespace {

// Bisection steps towards the colliding configuration: 2^-24 of the
// distance to the sample, far below any clearance that matters.
constexpr int kBisections = 24;

} // namespace

CwdnConfigExtractor::CwdnConfigExtractor() = default;
CwdnConfigExtractor::~CwdnConfigExtractor() = default;

boost::shared_ptr<CwdnConfigExtractor> CwdnConfigExtractor::create(boost::shared_ptr<CwdnDevice> const& device)
{
    if (!device) {
        return boost::shared_ptr<CwdnConfigExtractor>();
    }
    boost::shared_ptr<CwdnConfigExtractor> x(new CwdnConfigExtractor());
    x->m_device = device;
    return x;
}

int CwdnConfigExtractor::extractFreeConfig(CwdnConfig& config)
{
    if (config.device() != m_device || config.size() != m_device->configSize() || config.size() == 0) {
        return -1;
    }
    boost::shared_ptr<CwdnSpace> const space = m_device->space();
    space->beginQueries();
    ob::SpaceInformationPtr const& si = space->si();
    ob::State* const centre = si->allocState();
    ob::State* const sample = si->allocState();
    ob::State* const best = si->allocState();
    space->toState(config.data(), centre);
    if (si->isValid(centre)) {
        si->freeState(centre);
        si->freeState(sample);
        si->freeState(best);
        return 0;
    }
    cwdnReseed(m_seed);
    ob::StateSamplerPtr const sampler = si->allocStateSampler();
    bool found = false;
    double bestDistance = 0.0;
    for (double r = m_initialRadius; r <= m_maxRadius && !found; r *= 2.0) {
        for (unsigned int i = 0; i < m_samplesPerShell; ++i) {
            sampler->sampleUniformNear(sample, centre, r);
            si->enforceBounds(sample);
            if (!si->isValid(sample)) {
                continue;
            }
            double const d = si->distance(centre, sample);
            if (!found || d < bestDistance) {
                si->copyState(best, sample);
                bestDistance = d;
                found = true;
            }
        }
    }
    if (found) {
        // Bisect between the colliding centre (fraction 0) and the free
        // sample (fraction 1), keeping the free end.
        double lo = 0.0;
        double hi = 1.0;
        si->copyState(sample, best);
        for (int i = 0; i < kBisections; ++i) {
            double const mid = 0.5 * (lo + hi);
            si->getStateSpace()->interpolate(centre, sample, mid, best);
            if (si->isValid(best)) {
                hi = mid;
            } else {
                lo = mid;
            }
        }
        si->getStateSpace()->interpolate(centre, sample, hi, best);
        if (hi >= 1.0) {
            si->copyState(best, sample);
        }
        space->fromState(best, config.data());
    }
    si->freeState(centre);
    si->freeState(sample);
    si->freeState(best);
    return found ? 0 : -1;
}
