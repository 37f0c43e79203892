#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

// A temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A qm7410-sim child process with its stdin and stdout on pipes. Every wait has a deadline, and the
// destructor ends the child (SIGTERM, then SIGKILL) so a failing test never leaves one behind.
class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts the simulator with `args` and waits for its "ready" line; false (with the reason in
  // Error()) when it exits or stays silent instead.
  bool Start(const std::vector<std::string>& args, int timeoutMs = 5000);
  // Sends one command line and returns its answer line ("" on timeout).
  std::string Command(const std::string& line, int timeoutMs = 3000);
  // One line of stdout, "" on timeout or end of file.
  std::string ReadLine(int timeoutMs);
  // Ends the command channel; the simulator goes on serving the line.
  void CloseStdin();
  // SIGTERM and wait; returns the exit status as waitpid reports it, or -1 when already stopped.
  int Stop(int timeoutMs = 3000);
  // Waits for the child to exit by itself; -1 on timeout.
  int Wait(int timeoutMs);
  pid_t Pid() const { return pid_; }
  const std::string& Error() const { return error_; }
  // Everything the child wrote to stderr so far (kept in a file of the test's temporary directory).
  std::string Stderr() const;

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
  std::string error_;
  std::string stderrPath_;
  TempDir dir_;
};

}  // namespace e2e
