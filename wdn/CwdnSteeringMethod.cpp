#include <wdn/CwdnSteeringMethod.h>
#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>

CwdnSteeringMethod::CwdnSteeringMethod() = default;
CwdnSteeringMethod::~CwdnSteeringMethod() = default;

boost::shared_ptr<CwdnSteeringMethod> CwdnSteeringMethod::create(boost::shared_ptr<CwdnDevice> const& device)
{
    boost::shared_ptr<CwdnSteeringMethod> sm(new CwdnSteeringMethod());
    sm->m_device = device;
    return sm;
}

boost::shared_ptr<CwdnDirectPath> CwdnSteeringMethod::makeDirectPath(CwdnConfig const& from,
                                                                    CwdnConfig const& to) const
{
    boost::shared_ptr<CwdnDevice> const d = m_device.lock();
    if (!d || from.device() != d || to.device() != d || from.size() != d->configSize() ||
        to.size() != d->configSize()) {
        return boost::shared_ptr<CwdnDirectPath>();
    }
    return boost::shared_ptr<CwdnDirectPath>(new CwdnDirectPath(from, to, d->distance(from, to)));
}
