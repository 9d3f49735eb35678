// Child processes of the command line's several-port runs and of a station
// (the command line's or the production window's), one file per platform
// (child_processes_posix.cpp: fork/exec, poll, signalfd;
// child_processes_win.cpp: CreateProcess, a reader thread per pipe).
//
// Each child runs with standard output and error piped back and standard
// input a pipe from here, on which sendLine() gives it lines to read (a
// station's worker reads "stop" there: the production window is a GUI
// program on Windows, which no console's Ctrl-Break reaches). It runs in a
// process group of its own, so that the terminal's Ctrl-C reaches the parent
// alone, which passes it on. A child dies with its parent, however the parent
// ends (Linux: the parent-death signal SIGKILL; Windows: a job object that
// kills its processes when the parent's handle to it closes), so none is
// left holding a port. Started from a program without a console (the window
// on Windows), a child gets no console window either.
//
// With `takeInterrupts`, while a ChildProcesses lives it takes the parent's
// Ctrl-C (and SIGTERM) and reports them from wait(); the window leaves them
// alone.
//
// Threading: one thread uses a ChildProcesses.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kx::production {

class ChildProcesses {
 public:
  struct Output {
    std::size_t child;
    bool isError;       // standard error, else standard output
    std::string bytes;  // empty: the stream has ended
  };
  struct Exit {
    std::size_t child;
    int code;  // the exit code; 128 + the signal when killed (POSIX)
  };

  explicit ChildProcesses(bool takeInterrupts = true);
  ~ChildProcesses();
  ChildProcesses(const ChildProcesses&) = delete;
  ChildProcesses& operator=(const ChildProcesses&) = delete;

  // This program's own file; "" when it cannot be found.
  static std::string selfPath();
  // The file of the program `name` ("kx627-config") in this program's own
  // folder, with the system's ending (".exe"); "" when there is none.
  static std::string besideSelf(const std::string& name);
  // A new empty directory for the run's files; "" when none can be made.
  static std::string makeTempDirectory();

  // Starts `program` with `args` as the next child (numbered from 0);
  // false when it could not be started (it still takes its number).
  bool start(const std::string& program, const std::vector<std::string>& args);

  // Waits up to timeoutMs for output or an end, and adds what came to
  // `output` and `exits`. Returns how many times Ctrl-C was pressed since
  // the last call (0 without takeInterrupts).
  int wait(int timeoutMs, std::vector<Output>& output, std::vector<Exit>& exits);

  // Writes `line` and a line end to a running child's standard input; false
  // when it cannot (the child has ended or closed it).
  bool sendLine(std::size_t child, std::string_view line);
  // Passes Ctrl-C on to a running child, or (hard) stops it at once.
  void interrupt(std::size_t child, bool hard);

  // True while any child runs or has output not yet reported.
  bool busy() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// Appends a child's `bytes` to `pending` and hands each complete line
// (without its "\n") to `onLine`; the unended rest stays in `pending`.
template <typename OnLine>
void takeLines(std::string& pending, std::string_view bytes, OnLine&& onLine) {
  pending.append(bytes);
  std::size_t start = 0, nl;
  while ((nl = pending.find('\n', start)) != std::string::npos) {
    onLine(std::string_view(pending).substr(start, nl - start));
    start = nl + 1;
  }
  pending.erase(0, start);
}

}  // namespace kx::production
