#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

class CwdnConfig;
class CwdnDevice;
class CwdnDirectPath;

// Makes the straight motions of a device (CwdnDirectPath) between two of its
// configurations; every device owns one, reached with steeringMethod().
class WDN_API CwdnSteeringMethod {
public:
    static boost::shared_ptr<CwdnSteeringMethod> create(boost::shared_ptr<CwdnDevice> const& device);

    CwdnSteeringMethod(CwdnSteeringMethod const&) = delete;
    CwdnSteeringMethod& operator=(CwdnSteeringMethod const&) = delete;
    virtual ~CwdnSteeringMethod();

    // The straight motion from `from` to `to`; empty when either is not a
    // configuration of the device (or the device is gone).
    boost::shared_ptr<CwdnDirectPath> makeDirectPath(CwdnConfig const& from, CwdnConfig const& to) const;
    boost::shared_ptr<CwdnDevice> device() const { return m_device.lock(); }

protected:
    CwdnSteeringMethod();

private:
    void invariant() const {}
    boost::weak_ptr<CwdnDevice> m_device;
};
