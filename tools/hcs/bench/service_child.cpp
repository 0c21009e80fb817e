#include "bench/service_child.h"

#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace hcs::bench {

ServiceChild::ServiceChild(const std::string& program, const std::vector<std::string>& serveArguments) {
  std::vector<std::string> arguments{"hcs", "serve"};
  arguments.insert(arguments.end(), serveArguments.begin(), serveArguments.end());
  arguments.insert(arguments.end(), {"--port", "0"});
  std::string command;
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
    command += (command.empty() ? "" : " ") + argument;
  }
  argv.push_back(nullptr);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("cannot start " + command + ": no pipe");
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec. The child dies with us, however we end.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(out[1], STDOUT_FILENO);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;
  char c = 0;
  pollfd ready{out[0], POLLIN, 0};
  while (pid_ > 0 && line.size() < 200 && ::poll(&ready, 1, 5000) == 1 && ::read(out[0], &c, 1) == 1 &&
         c != '\n') {
    line += c;
  }
  ::close(out[0]);
  const std::string prefix = "listening on ";
  if (pid_ < 0 || line.rfind(prefix, 0) != 0) {
    stop();
    throw std::runtime_error("cannot start " + command);
  }
  url_ = line.substr(prefix.size());
}

ServiceChild::~ServiceChild() { stop(); }

long long ServiceChild::cpuNanos() const {
  clockid_t clock{};
  timespec used{};
  if (pid_ <= 0 || ::clock_getcpuclockid(pid_, &clock) != 0 || ::clock_gettime(clock, &used) != 0) return -1;
  return used.tv_sec * 1000000000LL + used.tv_nsec;
}

void ServiceChild::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace hcs::bench
