#include "support/child_process.h"

#include <algorithm>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hcs::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile,
                           int deathSignal) {
  // Everything the child needs is made before fork: other threads of the test may hold the allocator's
  // locks at that moment, so the child calls nothing but system calls until it executes the program.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, deathSignal);
    if (::getppid() != parent) ::_exit(126);  // the test ended before the line above
    const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
    }
    // Nothing else of the test's: a connection of the plugin's held by a server would outlive the test.
    ::close_range(3, ~0U, 0);
    ::execv(args[0], args.data());
    static const char kFailed[] = "exec failed\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kFailed, sizeof kFailed - 1);
    ::_exit(127);
  }
  // Also from this side, so a signal to the group right after the start reaches the child.
  ::setpgid(pid_, pid_);
}

ChildProcess::~ChildProcess() { kill(); }

bool ChildProcess::reap(int options) {
  if (pid_ < 0) return true;
  int status = 0;
  if (::waitpid(pid_, &status, options) != pid_) return false;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pid_ = -1;
  return true;
}

bool ChildProcess::running() { return !reap(WNOHANG); }

void ChildProcess::signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

int ChildProcess::waitEnd(std::chrono::milliseconds bound) {
  if (pid_ > 0) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
      pollfd ended{pidfd, POLLIN, 0};
      ::poll(&ended, 1, static_cast<int>(bound.count()));
      ::close(pidfd);
    }
    if (!reap(WNOHANG)) return -1;
  }
  return status_;
}

void ChildProcess::kill() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);  // in case it never made its group
  reap(0);
}

int runToEnd(const std::vector<std::string>& argv, const std::string& outputFile,
             std::chrono::milliseconds bound) {
  ChildProcess child(argv, outputFile);
  return child.waitEnd(bound);
}

namespace {

bool answers(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

bool waitForPort(int port, ChildProcess& child, std::chrono::milliseconds bound) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (child.running()) {
    if (answers(port)) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool waitUntilRefused(int port, std::chrono::milliseconds bound) {
  for (const auto until = std::chrono::steady_clock::now() + bound; answers(port);) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int freeLoopbackPort() {
  static std::mutex mutex;
  static std::set<int> handedOut;  // free again when a test of this process stopped its server
  static std::mt19937 random(std::random_device{}());
  int ephemeralLow = 32768;
  std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> ephemeralLow;
  const int low = 10000, high = std::max(low + 1000, ephemeralLow) - 1;
  std::lock_guard lock(mutex);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int port = std::uniform_int_distribution<int>(low, high)(random);
    if (handedOut.contains(port)) continue;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    // Without SO_REUSEADDR, so a port with connections still in TIME_WAIT is passed over too.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (free) {
      handedOut.insert(port);
      return port;
    }
  }
  throw std::runtime_error("no free loopback port below the ephemeral range");
}

}  // namespace hcs::test
