#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qm7410-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

bool SimProcess::Start(const std::vector<std::string>& args, int timeoutMs) {
  int toChild[2], fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return false;
  }
  stderrPath_ = dir_.File("sim-stderr.txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> argv{QM7410_SIM_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, QM7410_SIM_PATH, &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
  if (rc != 0) {
    pid_ = -1;
    error_ = "cannot start " QM7410_SIM_PATH;
    return false;
  }
  const std::string line = ReadLine(timeoutMs);
  if (line.rfind("ready ", 0) == 0) return true;
  error_ = line.empty() ? "no ready line; stderr: " + Stderr() : "unexpected first line: " + line;
  return false;
}

std::string SimProcess::ReadLine(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (const auto eol = buffer_.find('\n'); eol != std::string::npos) {
      std::string line = buffer_.substr(0, eol);
      buffer_.erase(0, eol + 1);
      return line;
    }
    if (out_ < 0) return "";
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, MsLeft(deadline)) <= 0) return "";
    char buf[512];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
      close(out_);
      out_ = -1;
      return "";
    }
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

std::string SimProcess::Command(const std::string& line, int timeoutMs) {
  if (in_ < 0) return "";
  const std::string text = line + "\n";
  if (write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
  return ReadLine(timeoutMs);
}

void SimProcess::CloseStdin() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

int SimProcess::Wait(int timeoutMs) {
  if (pid_ < 0) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return status;
    }
    if (MsLeft(deadline) == 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int SimProcess::Stop(int timeoutMs) {
  int status = -1;
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    status = Wait(timeoutMs);
    if (status == -1 && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      status = -1;
    }
  }
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
  in_ = out_ = -1;
  return status;
}

std::string SimProcess::Stderr() const {
  std::ifstream in(stderrPath_);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace e2e
