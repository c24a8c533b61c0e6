#include <wdn/CwdnRandom.h>

#include <ompl/util/Console.h>
#include <ompl/util/RandomNumbers.h>

std::uint_fast32_t cwdnSeed32(unsigned long seed)
{
    std::uint_fast32_t const s = static_cast<std::uint_fast32_t>(seed & 0xffffffffUL);
    return s == 0 ? 1 : s;
}

void cwdnReseed(unsigned long seed)
{
    // After the first generator exists OMPL logs an error for a new seed,
    // but applies it; the message is not meant for the host.
    ompl::msg::LogLevel const level = ompl::msg::getLogLevel();
    ompl::msg::setLogLevel(ompl::msg::LOG_NONE);
    ompl::RNG::setSeed(cwdnSeed32(seed));
    ompl::msg::setLogLevel(level);
}
