#pragma once

// One export macro for the planning library; it is compiled with
// -fvisibility=hidden, so only what carries WDN_API is part of its ABI.
#if defined(__GNUC__) || defined(__clang__)
#define WDN_API __attribute__((visibility("default")))
#else
#define WDN_API
#endif
