// Running a helper program on Windows: CreateProcessW into a job object of its own, which
// carries its limits, with its output read through pipes while it runs.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <string>
#include <vector>

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

// The caller's environment block with TEMP, TMP and TMPDIR naming `temporaryFolder`.
std::wstring EnvironmentWithTemporaryFolder(const std::string& temporaryFolder) {
  const auto isTemporary = [](std::wstring_view entry) {
    std::wstring name(entry.substr(0, entry.find(L'=')));
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    return name == L"TEMP" || name == L"TMP" || name == L"TMPDIR";
  };
  std::wstring block;
  if (wchar_t* strings = ::GetEnvironmentStringsW(); strings != nullptr) {
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      if (isTemporary(entry)) continue;
      block.append(entry).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(strings);
  }
  const std::wstring folder = Utf8ToUtf16(temporaryFolder);
  for (const wchar_t* name : {L"TEMP=", L"TMP=", L"TMPDIR="}) block.append(name).append(folder).push_back(L'\0');
  block.push_back(L'\0');
  return block;
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
// Processor time is counted in ticks of 100 ns.
constexpr std::uint64_t kTicksPerSecond = 10'000'000;

// The job objects of the programs running now, which a stop request ends.
std::mutex trackedJobsMutex;
std::vector<HANDLE> trackedJobs;
// The console event of the stop request received, plus one; 0: none.
std::atomic<DWORD> stopEvent{0};

void TrackJob(HANDLE job) {
  const std::lock_guard lock(trackedJobsMutex);
  trackedJobs.push_back(job);
}

void UntrackJob(HANDLE job) {
  const std::lock_guard lock(trackedJobsMutex);
  trackedJobs.erase(std::remove(trackedJobs.begin(), trackedJobs.end(), job), trackedJobs.end());
}

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  DWORD none = 0;
  // A second request ends the process now, as it would have without the first.
  if (!stopEvent.compare_exchange_strong(none, event + 1)) return FALSE;
  const std::lock_guard lock(trackedJobsMutex);
  for (HANDLE job : trackedJobs) ::TerminateJobObject(job, 1);
  return TRUE;
}

ULONGLONG Ticks(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

class Win32RunningProgram final : public RunningProgram {
 public:
  Win32RunningProgram(HANDLE job, HANDLE process, HANDLE input, HANDLE output, HANDLE messages, std::uint64_t cpuLimit)
      : job_(job), process_(process), input_(input), output_(output), messages_(messages), cpuLimit_(cpuLimit) {
    TrackJob(job_);
  }
  ~Win32RunningProgram() override {
    Stop();
    CloseInput();
    UntrackJob(job_);
    ::CloseHandle(output_);
    ::CloseHandle(messages_);
    ::CloseHandle(process_);
    ::CloseHandle(job_);
  }

  void Stop() override {
    if (waited_) return;
    // The whole job: anything the program started ends with it.
    ::TerminateJobObject(job_, 1);
    ::WaitForSingleObject(process_, INFINITE);
    waited_ = true;
  }

  bool WriteInput(std::span<const std::uint8_t> bytes) override {
    if (input_ == nullptr) return false;
    for (std::size_t done = 0; done < bytes.size();) {
      DWORD wrote = 0;
      const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
      if (!::WriteFile(input_, bytes.data() + done, wanted, &wrote, nullptr) || wrote == 0) return false;
      done += wrote;
    }
    return true;
  }

  void CloseInput() override {
    if (input_ != nullptr) ::CloseHandle(input_);
    input_ = nullptr;
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
    // The job object ends a program at its limit with a failure status; the user time
    // it had used says that the limit was the cause.
    FILETIME created{}, exited{}, kernel{}, user{};
    if (cpuLimit_ > 0 && exitCode != 0 && ::GetProcessTimes(process_, &created, &exited, &kernel, &user)) {
      run.timeLimitReached = Ticks(user) >= cpuLimit_ * kTicksPerSecond;
    }
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

  HANDLE job_;
  HANDLE process_;
  HANDLE input_;  // the write end of the input pipe; null without one
  HANDLE output_;
  HANDLE messages_;
  std::uint64_t cpuLimit_;
  bool waited_ = false;
};

// A job object that ends its programs when its last handle closes (when this process
// ends, however it ends), with `limits` on each program; null with the reason in `error`.
HANDLE CreateLimitedJob(const ProgramLimits& limits, std::string& error) {
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) {
    error = "Unable to create a job object: " + win32::SystemMessage(::GetLastError());
    return nullptr;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
  info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (limits.cpuSeconds > 0) {
    info.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_TIME;
    info.BasicLimitInformation.PerProcessUserTimeLimit.QuadPart = static_cast<LONGLONG>(
        std::min<std::uint64_t>(limits.cpuSeconds, INT64_MAX / kTicksPerSecond) * kTicksPerSecond);
  }
  if (limits.memoryBytes > 0) {
    info.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    info.ProcessMemoryLimit = static_cast<SIZE_T>(limits.memoryBytes);
  }
  if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof info)) {
    error = "Unable to set the limits of a job object: " + win32::SystemMessage(::GetLastError());
    ::CloseHandle(job);
    return nullptr;
  }
  return job;
}

}  // namespace

std::unique_ptr<RunningProgram> StartProgram(const std::vector<std::string>& arguments, std::string& error,
                                             const ProgramLimits& limits, ProgramInput inputKind,
                                             const std::string& temporaryFolder) {
  if (arguments.empty()) {
    error = "no program named";
    return nullptr;
  }
  // The program inherits only its ends of the pipes and the null device.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outputRead = nullptr, outputWrite = nullptr, messagesRead = nullptr, messagesWrite = nullptr;
  HANDLE inputWrite = nullptr;
  const auto closeAll = [&] {
    for (HANDLE handle : {outputRead, outputWrite, messagesRead, messagesWrite, inputWrite}) {
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
  HANDLE input = nullptr;
  if (inputKind == ProgramInput::kPipe) {
    if (!::CreatePipe(&input, &inputWrite, &inherit, 0) ||
        !::SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0)) {
      error = "Unable to create a pipe: " + win32::SystemMessage(::GetLastError());
      if (input != nullptr) ::CloseHandle(input);
      closeAll();
      return nullptr;
    }
  } else {
    input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
      error = "Unable to open the null device: " + win32::SystemMessage(::GetLastError());
      closeAll();
      return nullptr;
    }
  }
  HANDLE job = CreateLimitedJob(limits, error);
  if (job == nullptr) {
    ::CloseHandle(input);
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
  std::wstring environment;
  if (!temporaryFolder.empty()) environment = EnvironmentWithTemporaryFolder(temporaryFolder);
  // The program starts suspended, so that it runs no instruction outside its job.
  const BOOL created =
      ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT,
                       environment.empty() ? nullptr : environment.data(), nullptr, &startup, &process);
  const DWORD createError = ::GetLastError();
  ::CloseHandle(input);
  ::CloseHandle(outputWrite);
  ::CloseHandle(messagesWrite);
  outputWrite = messagesWrite = nullptr;
  if (!created) {
    error = "Unable to run '" + arguments[0] + "': " + win32::SystemMessage(createError);
    ::CloseHandle(job);
    closeAll();
    return nullptr;
  }
  if (!::AssignProcessToJobObject(job, process.hProcess)) {
    error = "Unable to limit '" + arguments[0] + "': " + win32::SystemMessage(::GetLastError());
    ::TerminateProcess(process.hProcess, 1);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(job);
    closeAll();
    return nullptr;
  }
  auto program = std::make_unique<Win32RunningProgram>(job, process.hProcess, inputWrite, outputRead, messagesRead,
                                                       limits.cpuSeconds);
  // A stop request that came before the job was tracked did not see it.
  if (stopEvent.load() != 0) ::TerminateJobObject(job, 1);
  ::ResumeThread(process.hThread);
  ::CloseHandle(process.hThread);
  return program;
}

const char* GhostscriptProgramName() { return "gswin64c.exe"; }

void CatchStopRequests() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

const char* StopRequested() {
  switch (stopEvent.load()) {
    case CTRL_C_EVENT + 1: return "Ctrl+C";
    case CTRL_BREAK_EVENT + 1: return "Ctrl+Break";
    case CTRL_CLOSE_EVENT + 1: return "closing the console";
    default: return nullptr;
  }
}

void EndAsStopRequested() {
  // The status a console program ended by Ctrl+C has.
  if (stopEvent.load() != 0) ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace velmora::platform
