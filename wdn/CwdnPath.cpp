#include <wdn/CwdnPath.h>
#include <wdn/CwdnConfig.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>

namespace {

// Pieces meet where one ends and the next starts; both ends are copies of
// the same configuration in practice, and 1e-9 absorbs a round trip of the
// values through another representation.
constexpr double kJoinTolerance = 1e-9;

} // namespace

CwdnPath::CwdnPath() = default;
CwdnPath::~CwdnPath() = default;

boost::shared_ptr<CwdnPath> CwdnPath::create(boost::shared_ptr<CwdnDevice> const& device)
{
    boost::shared_ptr<CwdnPath> p(new CwdnPath());
    p->m_device = device;
    return p;
}

int CwdnPath::appendDirectPath(boost::shared_ptr<CwdnDirectPath const> const& dp)
{
    boost::shared_ptr<CwdnDevice> const d = m_device.lock();
    if (!dp || !d || dp->device() != d) {
        return -1;
    }
    if (!m_directPaths.empty() && !m_directPaths.back()->end().isEqual(dp->start(), kJoinTolerance)) {
        return -1;
    }
    m_directPaths.push_back(dp);
    return 0;
}

int CwdnPath::appendPath(boost::shared_ptr<CwdnPath const> const& path)
{
    boost::shared_ptr<CwdnDevice> const d = m_device.lock();
    if (!path || !d || path->device() != d) {
        return -1;
    }
    if (path->m_directPaths.empty()) {
        return 0;
    }
    if (!m_directPaths.empty() &&
        !m_directPaths.back()->end().isEqual(path->m_directPaths.front()->start(), kJoinTolerance)) {
        return -1;
    }
    // Copied first: path may be this very path.
    std::vector<boost::shared_ptr<CwdnDirectPath const>> const pieces = path->m_directPaths;
    m_directPaths.insert(m_directPaths.end(), pieces.begin(), pieces.end());
    return 0;
}

double CwdnPath::length() const
{
    double l = 0.0;
    for (boost::shared_ptr<CwdnDirectPath const> const& dp : m_directPaths) {
        l += dp->length();
    }
    return l;
}

int CwdnPath::configAtLength(double s, CwdnConfig& out) const
{
    if (m_directPaths.empty()) {
        return -1;
    }
    for (boost::shared_ptr<CwdnDirectPath const> const& dp : m_directPaths) {
        double const l = dp->length();
        if (s <= l) {
            return dp->configAt(l > 0.0 ? s / l : 1.0, out);
        }
        s -= l;
    }
    out = m_directPaths.back()->end();
    return 0;
}

int CwdnPath::getStart(CwdnConfig& out) const
{
    if (m_directPaths.empty()) {
        return -1;
    }
    out = m_directPaths.front()->start();
    return 0;
}

int CwdnPath::getEnd(CwdnConfig& out) const
{
    if (m_directPaths.empty()) {
        return -1;
    }
    out = m_directPaths.back()->end();
    return 0;
}
