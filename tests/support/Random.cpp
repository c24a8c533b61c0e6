#include <tests/support/Random.h>

#include <cstdlib>

namespace tvxtest {

int runs(int nominal)
{
    double factor = 1.0;
#if defined(TVX_TEST_SLOW_BUILD)
    factor = 0.1;
#endif
    if (char const* env = std::getenv("TVX_TEST_SCALE")) {
        double const s = std::atof(env);
        if (s > 0.0)
            factor *= s;
    }
    int const n = static_cast<int>(nominal * factor);
    return n < 1 ? 1 : n;
}

} // namespace tvxtest
