#pragma once

#include <wdn/wdnExport.h>
#include <wdn/CwdnConfig.h>

#include <boost/shared_ptr.hpp>

class CwdnDevice;

// A straight motion of a device between two configurations, as the device
// interpolates it (see CwdnDevice::interpolate). Made by the device's
// steering method; immutable.
class WDN_API CwdnDirectPath {
public:
    CwdnDirectPath(CwdnDirectPath const&) = default;
    CwdnDirectPath& operator=(CwdnDirectPath const&) = default;
    virtual ~CwdnDirectPath();

    CwdnConfig const& start() const { return m_start; }
    CwdnConfig const& end() const { return m_end; }
    // Length in the device's metric.
    double length() const { return m_length; }
    boost::shared_ptr<CwdnDevice> device() const { return m_start.device(); }
    // The configuration at fraction u (clamped to [0, 1]); exactly start()
    // at 0 and end() at 1. 0, or -1 when the device is gone.
    int configAt(double u, CwdnConfig& out) const;

protected:
    friend class CwdnSteeringMethod;
    CwdnDirectPath(CwdnConfig const& start, CwdnConfig const& end, double length);

private:
    CwdnConfig m_start;
    CwdnConfig m_end;
    double m_length;
};
