#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>

class CwdnConfig;
class CwdnDevice;

// Finds a collision-free configuration near a colliding one.
//
// extractFreeConfig() samples shells of doubling radius around the given
// configuration (from initialRadius() up to maxRadius(), in the device's
// metric), keeps the closest free sample of the first shell that has one,
// then bisects along the straight motion back towards the given
// configuration, so the result lies close to the boundary of the free space.
// Runs are repeatable for a given seed.
class WDN_API CwdnConfigExtractor {
public:
    static boost::shared_ptr<CwdnConfigExtractor> create(boost::shared_ptr<CwdnDevice> const& device);

    CwdnConfigExtractor(CwdnConfigExtractor const&) = delete;
    CwdnConfigExtractor& operator=(CwdnConfigExtractor const&) = delete;
    virtual ~CwdnConfigExtractor();

    // 0 when config is free, already or after being replaced by a free
    // configuration; -1 (config unchanged) when nothing free was found or
    // config is not of this device.
    int extractFreeConfig(CwdnConfig& config);

    boost::shared_ptr<CwdnDevice> device() const { return m_device; }
    double initialRadius() const { return m_initialRadius; }
    void initialRadius(double r) { m_initialRadius = r; }
    double maxRadius() const { return m_maxRadius; }
    void maxRadius(double r) { m_maxRadius = r; }
    unsigned int samplesPerShell() const { return m_samplesPerShell; }
    void samplesPerShell(unsigned int n) { m_samplesPerShell = n; }
    unsigned long seed() const { return m_seed; }
    void seed(unsigned long s) { m_seed = s; }

protected:
    CwdnConfigExtractor();

private:
    void invariant() const {}
    boost::shared_ptr<CwdnDevice> m_device;
    double m_initialRadius = 0.01;
    double m_maxRadius = 2.0;
    unsigned int m_samplesPerShell = 64;
    unsigned long m_seed = 1;
};
