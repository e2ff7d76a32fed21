// Running a helper program on Windows: CreateProcessW with its output read through
// pipes while it runs.
#include <windows.h>

#include <algorithm>

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

std::wstring CommandLine(const std::vector<std::string>& arguments) {
  std::wstring commandLine;
  for (const std::string& argument : arguments) {
    if (!commandLine.empty()) commandLine.push_back(L' ');
    commandLine += Quoted(Utf8ToUtf16(argument));
  }
  return commandLine;
}

// A pipe's output can run ahead of its reader by this much, so that a renderer is not
// held up while a page is being printed.
constexpr DWORD kOutputPipeSize = 1 << 20;

class Win32RunningProgram final : public RunningProgram {
 public:
  Win32RunningProgram(HANDLE process, HANDLE output, HANDLE messages)
      : process_(process), output_(output), messages_(messages) {}
  ~Win32RunningProgram() override {
    Stop();
    ::CloseHandle(output_);
    ::CloseHandle(messages_);
    ::CloseHandle(process_);
  }

  void Stop() override {
    if (waited_) return;
    ::TerminateProcess(process_, 1);
    ::WaitForSingleObject(process_, INFINITE);
    waited_ = true;
  }

  std::ptrdiff_t ReadOutput(std::uint8_t* buffer, std::size_t size) override { return ReadFrom(output_, buffer, size); }
  std::ptrdiff_t ReadMessages(std::uint8_t* buffer, std::size_t size) override {
    return ReadFrom(messages_, buffer, size);
  }

  ProgramRun Wait() override {
    ProgramRun run;
    ::WaitForSingleObject(process_, INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process_, &exitCode);
    waited_ = true;
    run.started = true;
    run.exitCode = static_cast<int>(exitCode);
    return run;
  }

 private:
  static std::ptrdiff_t ReadFrom(HANDLE pipe, std::uint8_t* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (::ReadFile(pipe, buffer, wanted, &got, nullptr)) return got;
    // The program closed its end: the stream is complete.
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }

  HANDLE process_;
  HANDLE output_;
  HANDLE messages_;
  bool waited_ = false;
};

}  // namespace

std::unique_ptr<RunningProgram> StartProgram(const std::vector<std::string>& arguments, std::string& error) {
  if (arguments.empty()) {
    error = "no program named";
    return nullptr;
  }
  // The program inherits only the write ends and the null device.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outputRead = nullptr, outputWrite = nullptr, messagesRead = nullptr, messagesWrite = nullptr;
  const auto closeAll = [&] {
    for (HANDLE handle : {outputRead, outputWrite, messagesRead, messagesWrite}) {
      if (handle != nullptr) ::CloseHandle(handle);
    }
  };
  if (!::CreatePipe(&outputRead, &outputWrite, &inherit, kOutputPipeSize) ||
      !::CreatePipe(&messagesRead, &messagesWrite, &inherit, 0) ||
      !::SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0) ||
      !::SetHandleInformation(messagesRead, HANDLE_FLAG_INHERIT, 0)) {
    error = "Unable to create a pipe: " + win32::SystemMessage(::GetLastError());
    closeAll();
    return nullptr;
  }
  HANDLE input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (input == INVALID_HANDLE_VALUE) {
    error = "Unable to open the null device: " + win32::SystemMessage(::GetLastError());
    closeAll();
    return nullptr;
  }
  std::wstring commandLine = CommandLine(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = outputWrite;
  startup.hStdError = messagesWrite;
  PROCESS_INFORMATION process{};
  const BOOL created = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &process);
  const DWORD createError = ::GetLastError();
  ::CloseHandle(input);
  ::CloseHandle(outputWrite);
  ::CloseHandle(messagesWrite);
  outputWrite = messagesWrite = nullptr;
  if (!created) {
    error = "Unable to run '" + arguments[0] + "': " + win32::SystemMessage(createError);
    closeAll();
    return nullptr;
  }
  ::CloseHandle(process.hThread);
  return std::make_unique<Win32RunningProgram>(process.hProcess, outputRead, messagesRead);
}

const char* GhostscriptProgramName() { return "gswin64c.exe"; }

}  // namespace velmora::platform
