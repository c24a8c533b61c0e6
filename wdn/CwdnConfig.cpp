#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>

#include <cmath>

CwdnConfig::CwdnConfig() = default;

CwdnConfig::CwdnConfig(boost::shared_ptr<CwdnDevice> const& device) : m_device(device)
{
    if (device) {
        device->neutralValues(m_values);
    }
}

CwdnConfig::CwdnConfig(CwdnConfig const&) = default;
CwdnConfig& CwdnConfig::operator=(CwdnConfig const&) = default;
CwdnConfig::~CwdnConfig() = default;

int CwdnConfig::isColliding(bool& colliding) const
{
    colliding = true;
    if (!m_device || m_values.size() != m_device->configSize()) {
        return -1;
    }
    colliding = !m_device->checkValues(m_values.data(), nullptr);
    return 0;
}

bool CwdnConfig::isEqual(CwdnConfig const& other, double tolerance) const
{
    if (m_device != other.m_device || m_values.size() != other.m_values.size()) {
        return false;
    }
    for (std::size_t i = 0; i < m_values.size(); ++i) {
        if (!(std::fabs(m_values[i] - other.m_values[i]) <= tolerance)) {
            return false;
        }
    }
    return true;
}
