// Error texts and the Wine check for the Windows platform layer.
#include "platform/win32/system_message.h"

#include "platform/text_encoding.h"

namespace velmora::platform::win32 {

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length > 0 ? Utf16ToUtf8(WStringView(text, length)) : "error " + std::to_string(code);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace velmora::platform::win32
