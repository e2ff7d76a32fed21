// Basic types shared by the plug-in, the host and the platform layer.
//
// The host's published plug-in structures are declared by us (formats/host_interface.h)
// with these scalar types, identical on Windows and POSIX. They live in the namespace
// velmora so that they never collide with <windows.h> in the Windows implementation files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

#if defined(_WIN32)
using WCHAR = wchar_t;  // UTF-16 code unit on Windows
#define VTEXT(s) L##s
#else
using WCHAR = char16_t;  // UTF-16 code unit everywhere else
#define VTEXT(s) u##s
#endif

using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;

#if defined(_WIN32)
}  // namespace velmora
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <wingdi.h> defines the device-mode field bits as macros. The plug-in declares the
// same published names, with the same values, as typed constants in namespace velmora
// (formats/host_interface.h); the macros would turn those declarations into
// numbers. Add a name here when the plug-in declares another one that <windows.h>
// defines as a macro.
#undef DM_ORIENTATION
#undef DM_PAPERSIZE
#undef DM_COPIES
#undef DM_DEFAULTSOURCE
#undef DM_PRINTQUALITY
#undef DM_DUPLEX
#undef DM_YRESOLUTION
#undef DM_COLLATE
#undef DM_FORMNAME
namespace velmora {
// On Windows the scalar types, result codes and error codes are the SDK's own
// (S_OK, E_FAIL, SUCCEEDED, ... are its macros).
using ::BOOL;
using ::BYTE;
using ::DWORD;
using ::HANDLE;
using ::HRESULT;
using ::LONG;
using ::PVOID;
using ::ULONG;
using ::WORD;
#else
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using HANDLE = void*;
using PVOID = void*;

// COM result codes (published values).
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Thread error codes (published values).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
#endif

// The invalid handle value: all bits set.
inline HANDLE InvalidHandleValue() { return reinterpret_cast<HANDLE>(~std::uintptr_t{0}); }

}  // namespace velmora
