// What a test needs to know about the system it runs on: Windows or not, and Wine or not.
#pragma once

#if defined(_WIN32)
#include "platform/types.h"
#endif

namespace velmora::testing {

#if defined(_WIN32)
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// True when the program runs under Wine, which exports wine_get_version from its ntdll.
// A test that meets a behaviour of Wine's that differs from Windows checks Wine's
// behaviour under this, so that the difference is written down rather than hidden.
inline bool RunningUnderWine() {
#if defined(_WIN32)
  static const bool wine = [] {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
#else
  return false;
#endif
}

}  // namespace velmora::testing
