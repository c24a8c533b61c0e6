#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>

#include <vector>

class CwdnDevice;

// A configuration of a device: one value per degree of freedom, joint after
// joint in the device's order (see CwdnJoint for the values of each type).
//
// A configuration is a plain value that remembers its device. Made from a
// device it holds the device's neutral configuration (zeros and identity
// rotations). isColliding() places the device there and asks every body;
// that moves the device's geometry, so the device's current configuration is
// the one last checked.
class WDN_API CwdnConfig {
public:
    CwdnConfig();
    explicit CwdnConfig(boost::shared_ptr<CwdnDevice> const& device);
    CwdnConfig(CwdnConfig const&);
    CwdnConfig& operator=(CwdnConfig const&);
    virtual ~CwdnConfig();

    boost::shared_ptr<CwdnDevice> device() const { return m_device; }
    unsigned int size() const { return static_cast<unsigned int>(m_values.size()); }
    double& operator[](unsigned int i) { return m_values[i]; }
    double operator[](unsigned int i) const { return m_values[i]; }
    std::vector<double> const& values() const { return m_values; }
    double* data() { return m_values.data(); }
    double const* data() const { return m_values.data(); }

    // 0 and colliding set when the device could be placed here; -1 (and
    // colliding true) without a device or with the wrong number of values.
    int isColliding(bool& colliding) const;
    // Same device, and every value within tolerance of the other's.
    bool isEqual(CwdnConfig const& other, double tolerance) const;

private:
    boost::shared_ptr<CwdnDevice> m_device;
    std::vector<double> m_values;
};
