#include <tvx/scene/internal/CtvxInputChecks.h>

#include <qar/CqarLogManager.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace CtvxInputChecks {

namespace {

bool allFinite(CqarMat4 const& m)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (!std::isfinite(m(r, c)))
                return false;
    return true;
}

bool affineBottomRow(CqarMat4 const& m)
{
    return m(3, 0) == 0.0 && m(3, 1) == 0.0 && m(3, 2) == 0.0 && m(3, 3) == 1.0;
}

double determinant3(CqarMat4 const& m)
{
    return m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) - m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
           m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
}

// The checks of placementFault() after the finiteness of the elements, in
// its order; null when all pass. Passing them also proves every element
// finite: the bottom row is compared exactly; a rotation element that is
// infinite or NaN makes its column's squared length infinite or NaN (a sum
// of squares cannot cancel), which fails its comparison with 1; and a
// translation element that is fails the bound.
char const* rigidFault(CqarMat4 const& m)
{
    if (!affineBottomRow(m))
        return "the bottom row is not 0 0 0 1";
    for (int a = 0; a < 3; ++a) {
        for (int b = a; b < 3; ++b) {
            double const dot = m(0, a) * m(0, b) + m(1, a) * m(1, b) + m(2, a) * m(2, b);
            if (!(std::fabs(dot - (a == b ? 1.0 : 0.0)) <= kRigidTolerance))
                return "the rotation part is not orthonormal (a scale or a shear)";
        }
    }
    if (!(determinant3(m) > 0.0))
        return "the rotation part mirrors";
    for (int r = 0; r < 3; ++r)
        if (!(std::fabs(m(r, 3)) <= kMaxTranslation))
            return "the translation is beyond 1e30";
    return nullptr;
}

} // namespace

char const* placementFault(CqarMat4 const& m)
{
    // A host moves its objects before every query: a sound placement, the
    // usual one, is accepted by the checks that also prove its elements
    // finite, and only a refused one is told which check it fails first.
    char const* const fault = rigidFault(m);
    if (fault && !allFinite(m))
        return "an element is not finite";
    return fault;
}

char const* pointsTransformFault(CqarMat4 const& m)
{
    if (!allFinite(m))
        return "an element is not finite";
    if (!affineBottomRow(m))
        return "the bottom row is not 0 0 0 1";
    if (!allFinite(m.inverse()))
        return "it is singular (it has no finite inverse)";
    return nullptr;
}

char const* scaleFault(CqarPoint3 const& centre, double factor)
{
    if (!std::isfinite(factor) || !(factor > 0.0))
        return "scale factor refused: it must be finite and above 0";
    if (!std::isfinite(centre[0]) || !std::isfinite(centre[1]) || !std::isfinite(centre[2]))
        return "scale centre refused: a coordinate is not finite";
    return nullptr;
}

bool isSoundTolerance(double t)
{
    return t >= 0.0 && t <= static_cast<double>(FLT_MAX);
}

void refuse(std::string const& who, std::string const& what)
{
    CqarLogManager::addError(who + ": " + what);
}

std::string number(double value)
{
    char buffer[32];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
        if (!std::isfinite(value) || std::strtod(buffer, nullptr) == value)
            break;
    }
    return buffer;
}

} // namespace CtvxInputChecks
