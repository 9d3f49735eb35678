#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "production/child_processes.h"

namespace kx::production {
namespace {

// The exit code a child stopped at once reports, as SIGKILL's on POSIX.
constexpr UINT kKilledExitCode = 128 + 9;

// One argument quoted as the C runtime splits command lines: backslashes
// are literal except before a quote.
std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

// Ctrl-C while children run: counted, and the waiting thread woken.
std::atomic<int> gInterrupts{0};
std::mutex* gWakeMutex = nullptr;
std::condition_variable* gWake = nullptr;

BOOL WINAPI countInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  ++gInterrupts;
  if (gWakeMutex) {
    std::lock_guard lock(*gWakeMutex);
    gWake->notify_all();
  }
  return TRUE;
}

}  // namespace

struct ChildProcesses::State {
  struct Child {
    HANDLE process = nullptr;
    HANDLE input = nullptr;  // the write end of its standard input
    DWORD pid = 0;
    bool ended = true;
    int openStreams = 0;
  };
  // The children's job: closed with this process, it ends them all.
  HANDLE job = nullptr;
  bool takesInterrupts = false;
  std::vector<Child> children;
  std::vector<std::thread> readers;  // one per pipe, each ends with its pipe
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Output> queue;  // under mutex

  void readPipe(std::size_t child, bool isError, HANDLE pipe) {
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) {
      std::lock_guard lock(mutex);
      queue.push_back({child, isError, std::string(buf, n)});
      changed.notify_all();
    }
    ::CloseHandle(pipe);
    std::lock_guard lock(mutex);
    queue.push_back({child, isError, {}});
    changed.notify_all();
  }
};

ChildProcesses::ChildProcesses(bool takeInterrupts) : s_(std::make_unique<State>()) {
  s_->job = ::CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (s_->job && !::SetInformationJobObject(s_->job, JobObjectExtendedLimitInformation, &limits,
                                            sizeof limits)) {
    ::CloseHandle(s_->job);
    s_->job = nullptr;
  }
  if (!takeInterrupts) return;
  s_->takesInterrupts = true;
  gInterrupts = 0;
  gWakeMutex = &s_->mutex;
  gWake = &s_->changed;
  ::SetConsoleCtrlHandler(countInterrupt, TRUE);
}

ChildProcesses::~ChildProcesses() {
  if (s_->takesInterrupts) {
    ::SetConsoleCtrlHandler(countInterrupt, FALSE);
    std::lock_guard lock(s_->mutex);
    gWakeMutex = nullptr;
    gWake = nullptr;
  }
  for (State::Child& c : s_->children)
    if (c.input) ::CloseHandle(c.input);
  for (State::Child& c : s_->children)
    if (!c.ended) ::TerminateProcess(c.process, kKilledExitCode);
  for (std::thread& t : s_->readers) t.join();
  for (State::Child& c : s_->children)
    if (c.process) ::CloseHandle(c.process);
  if (s_->job) ::CloseHandle(s_->job);
}

std::string ChildProcesses::selfPath() {
  char self[MAX_PATH * 4];
  const DWORD len = ::GetModuleFileNameA(nullptr, self, sizeof self);
  if (len == 0 || len >= sizeof self) return {};
  return std::string(self, len);
}

std::string ChildProcesses::besideSelf(const std::string& name) {
  const std::string self = selfPath();
  const std::size_t slash = self.find_last_of("\\/");
  if (slash == std::string::npos) return {};
  const std::string path = self.substr(0, slash + 1) + name + ".exe";
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return path;
}

std::string ChildProcesses::makeTempDirectory() {
  char base[MAX_PATH + 1];
  const DWORD len = ::GetTempPathA(sizeof base, base);
  if (len == 0 || len > MAX_PATH) return {};
  for (unsigned n = 0; n < 100; ++n) {
    const std::string dir = std::string(base, len) + "kx627-cli-" +
                            std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(n);
    if (::CreateDirectoryA(dir.c_str(), nullptr)) return dir;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

bool ChildProcesses::start(const std::string& program, const std::vector<std::string>& args) {
  const std::size_t index = s_->children.size();
  s_->children.emplace_back();
  std::string commandLine = quoted(program);
  for (const std::string& a : args) commandLine += " " + quoted(a);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  HANDLE input = nullptr, inputWrite = nullptr;
  const bool piped = ::CreatePipe(&outRead, &outWrite, &inherit, 0) &&
                     ::CreatePipe(&errRead, &errWrite, &inherit, 0) &&
                     ::CreatePipe(&input, &inputWrite, &inherit, 0) &&
                     ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0) &&
                     ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0) &&
                     ::SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION info{};
  // A process group of its own: the console's Ctrl-C reaches the parent
  // alone, which passes it on as Ctrl-Break (the one event a group gets).
  // Started suspended, and run only once it is in the job: a child that could
  // outlive this program never runs at all. A program without a console (the
  // window) would give each console child a console window of its own.
  const DWORD noConsole = ::GetConsoleWindow() ? 0 : CREATE_NO_WINDOW;
  bool started = s_->job && piped &&
                 ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                  CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED | noConsole, nullptr,
                                  nullptr, &startup, &info);
  if (started && (!::AssignProcessToJobObject(s_->job, info.hProcess) ||
                  ::ResumeThread(info.hThread) == static_cast<DWORD>(-1))) {
    ::TerminateProcess(info.hProcess, kKilledExitCode);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    started = false;
  }
  for (HANDLE h : {input, outWrite, errWrite})
    if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  if (!started) {
    for (HANDLE h : {outRead, errRead, inputWrite})
      if (h) ::CloseHandle(h);
    return false;
  }
  ::CloseHandle(info.hThread);
  State::Child& c = s_->children[index];
  c.process = info.hProcess;
  c.input = inputWrite;
  c.pid = info.dwProcessId;
  c.ended = false;
  c.openStreams = 2;
  s_->readers.emplace_back([state = s_.get(), index, outRead] { state->readPipe(index, false, outRead); });
  s_->readers.emplace_back([state = s_.get(), index, errRead] { state->readPipe(index, true, errRead); });
  return true;
}

int ChildProcesses::wait(int timeoutMs, std::vector<Output>& output, std::vector<Exit>& exits) {
  {
    std::unique_lock lock(s_->mutex);
    s_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] {
                           return !s_->queue.empty() ||
                                  (s_->takesInterrupts && gInterrupts.load() > 0);
                         });
    for (Output& o : s_->queue) {
      if (o.bytes.empty()) --s_->children[o.child].openStreams;
      output.push_back(std::move(o));
    }
    s_->queue.clear();
  }
  // Ends are looked at after every wait, each process on its own: no limit
  // of 64 handles as with one WaitForMultipleObjects.
  for (std::size_t i = 0; i < s_->children.size(); ++i) {
    State::Child& c = s_->children[i];
    if (c.ended || ::WaitForSingleObject(c.process, 0) != WAIT_OBJECT_0) continue;
    DWORD code = 0;
    ::GetExitCodeProcess(c.process, &code);
    c.ended = true;
    exits.push_back({i, static_cast<int>(code)});
  }
  return s_->takesInterrupts ? gInterrupts.exchange(0) : 0;
}

bool ChildProcesses::sendLine(std::size_t child, std::string_view line) {
  State::Child& c = s_->children.at(child);
  if (c.ended || !c.input) return false;
  const std::string text = std::string(line) + "\n";
  DWORD written = 0;
  if (::WriteFile(c.input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size())
    return true;
  ::CloseHandle(c.input);
  c.input = nullptr;
  return false;
}

void ChildProcesses::interrupt(std::size_t child, bool hard) {
  const State::Child& c = s_->children.at(child);
  if (c.ended) return;
  if (hard || !::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, c.pid))
    ::TerminateProcess(c.process, kKilledExitCode);
}

bool ChildProcesses::busy() const {
  std::lock_guard lock(s_->mutex);
  if (!s_->queue.empty()) return true;
  for (const State::Child& c : s_->children)
    if (!c.ended || c.openStreams > 0) return true;
  return false;
}

}  // namespace kx::production
