#include <wdn/CwdnDirectPath.h>
#include <wdn/CwdnDevice.h>

CwdnDirectPath::CwdnDirectPath(CwdnConfig const& start, CwdnConfig const& end, double length)
    : m_start(start), m_end(end), m_length(length)
{
}

CwdnDirectPath::~CwdnDirectPath() = default;

int CwdnDirectPath::configAt(double u, CwdnConfig& out) const
{
    // The ends are returned as stored, so that consecutive direct paths of a
    // path meet exactly.
    if (u <= 0.0) {
        out = m_start;
        return 0;
    }
    if (u >= 1.0) {
        out = m_end;
        return 0;
    }
    boost::shared_ptr<CwdnDevice> const d = m_start.device();
    if (!d) {
        return -1;
    }
    return d->interpolate(m_start, m_end, u, out);
}
