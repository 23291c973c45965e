// Test support: which system the tests run on, for the cases whose expectations differ by system.
#pragma once

namespace xel::test {

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// Whether this Windows program runs under Wine. Such a program, started from a Linux process, has
// no Windows parent. False outside Windows.
bool runningUnderWine();

}  // namespace xel::test
