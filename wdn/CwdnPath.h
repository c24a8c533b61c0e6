#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vector>

class CwdnConfig;
class CwdnDevice;
class CwdnDirectPath;

// A motion of a device: direct paths laid end to end.
//
// A path is created empty on a device and grown by appending direct paths
// or whole paths; each piece must start where the path ends (within 1e-9 in
// every value), so a path is always one continuous motion. The planner hands
// its results out as paths, and the optimizer rewrites them in place.
class WDN_API CwdnPath {
public:
    static boost::shared_ptr<CwdnPath> create(boost::shared_ptr<CwdnDevice> const& device);

    CwdnPath(CwdnPath const&) = default;
    CwdnPath& operator=(CwdnPath const&) = default;
    virtual ~CwdnPath();

    boost::shared_ptr<CwdnDevice> device() const { return m_device.lock(); }

    // 0, or -1 (nothing appended) for an empty pointer, another device, or
    // a piece that does not start where this path ends.
    int appendDirectPath(boost::shared_ptr<CwdnDirectPath const> const& dp);
    int appendPath(boost::shared_ptr<CwdnPath const> const& path);
    void clear() { m_directPaths.clear(); }

    unsigned int countDirectPaths() const { return static_cast<unsigned int>(m_directPaths.size()); }
    boost::shared_ptr<CwdnDirectPath const> directPath(unsigned int i) const { return m_directPaths[i]; }
    bool isEmpty() const { return m_directPaths.empty(); }
    // Sum of the lengths of the direct paths.
    double length() const;
    // The configuration at arc length s along the path (clamped). 0, or -1
    // for an empty path.
    int configAtLength(double s, CwdnConfig& out) const;
    int getStart(CwdnConfig& out) const;
    int getEnd(CwdnConfig& out) const;

protected:
    CwdnPath();

private:
    void invariant() const {}
    boost::weak_ptr<CwdnDevice> m_device;
    std::vector<boost::shared_ptr<CwdnDirectPath const>> m_directPaths;
};
