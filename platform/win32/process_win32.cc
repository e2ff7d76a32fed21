// Running a helper program on Windows: CreateProcessW with its output redirected to a file.
#include <windows.h>

#include "platform/process.h"
#include "platform/text_encoding.h"
#include "platform/win32/system_message.h"

namespace velmora::platform {
namespace {

// One argument quoted as the C runtime's command-line parser reads it back.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::string& messagesPath) {
  ProgramRun run;
  if (arguments.empty()) {
    run.error = "no program named";
    return run;
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  // WCHAR is wchar_t on Windows: the wide strings are the system's own.
  const WString messages = Utf8ToUtf16(messagesPath);
  HANDLE output = ::CreateFileW(messages.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE || input == INVALID_HANDLE_VALUE) {
    run.error = "Unable to create '" + messagesPath + "': " + win32::SystemMessage(::GetLastError());
    if (output != INVALID_HANDLE_VALUE) ::CloseHandle(output);
    if (input != INVALID_HANDLE_VALUE) ::CloseHandle(input);
    return run;
  }
  std::wstring commandLine;
  for (const std::string& argument : arguments) {
    if (!commandLine.empty()) commandLine.push_back(L' ');
    commandLine += Quoted(Utf8ToUtf16(argument));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process{};
  const BOOL created = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &process);
  const DWORD createError = ::GetLastError();
  ::CloseHandle(output);
  ::CloseHandle(input);
  if (!created) {
    run.error = "Unable to run '" + arguments[0] + "': " + win32::SystemMessage(createError);
    return run;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  run.started = true;
  run.exitCode = static_cast<int>(exitCode);
  return run;
}

const char* GhostscriptProgramName() { return "gswin64c.exe"; }

}  // namespace velmora::platform
