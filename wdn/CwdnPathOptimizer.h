#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>

class CwdnDevice;
class CwdnPath;

// Shortens a path by shortcuts.
//
// optimizePath() repeatedly drops waypoints and replaces stretches of the
// path by straight motions wherever those are certified collision-free on
// the current geometry, then merges waypoints that lie too close together.
// The ends of the path never move and no waypoint is added beyond the
// shortcut ends, so the result is never longer than the input. Repeatable
// for a given seed.
class WDN_API CwdnPathOptimizer {
public:
    static boost::shared_ptr<CwdnPathOptimizer> create(boost::shared_ptr<CwdnDevice> const& device);

    CwdnPathOptimizer(CwdnPathOptimizer const&) = delete;
    CwdnPathOptimizer& operator=(CwdnPathOptimizer const&) = delete;
    virtual ~CwdnPathOptimizer();

    // 0, or -1 (path unchanged) for an empty path or one of another device.
    int optimizePath(boost::shared_ptr<CwdnPath> const& path);

    boost::shared_ptr<CwdnDevice> device() const { return m_device; }
    unsigned int maxRounds() const { return m_maxRounds; }
    void maxRounds(unsigned int n) { m_maxRounds = n; }
    unsigned long seed() const { return m_seed; }
    void seed(unsigned long s) { m_seed = s; }

protected:
    CwdnPathOptimizer();

private:
    void invariant() const {}
    boost::shared_ptr<CwdnDevice> m_device;
    unsigned int m_maxRounds = 5;
    unsigned long m_seed = 1;
};
