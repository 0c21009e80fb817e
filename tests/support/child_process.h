#pragma once

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <sys/types.h>

namespace hcs::test {

// A program run by a test as a child process in a process group of its own, its stdout and stderr
// appended to one file. The child gets `deathSignal` when the thread that started it ends, so a test
// process that dies leaves no server behind; start children from a thread that outlives them (the test's
// own). Whatever is still running is killed, group and all, when the object goes. One thread uses it.
class ChildProcess {
 public:
  // Starts `argv` (argv[0] a path). Throws std::runtime_error when fork fails; a program that cannot be
  // executed exits with 127 and says why in `outputFile`.
  ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile,
               int deathSignal = SIGKILL);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // False once the child has ended (and been reaped).
  bool running();
  // Sends `signal` to the child alone.
  void signal(int signal) const;
  // Waits at most `bound` for the child to end; its exit status, a signal that ended it as 128 + the
  // signal, or -1 when it still runs.
  int waitEnd(std::chrono::milliseconds bound);
  // SIGKILL to the whole group, then reaps the child. The group's other processes end without waiting.
  void kill();

 private:
  bool reap(int options);

  pid_t pid_ = -1;
  int status_ = -1;
};

// Runs `argv` to its end (at most `bound`, then killed) with its output appended to `outputFile`; its
// exit status as waitEnd gives it.
int runToEnd(const std::vector<std::string>& argv, const std::string& outputFile,
             std::chrono::milliseconds bound);

// Waits at most `bound` until 127.0.0.1:`port` accepts a connection; gives up early when `child` ends.
bool waitForPort(int port, ChildProcess& child, std::chrono::milliseconds bound);

// Waits at most `bound` until 127.0.0.1:`port` refuses connections.
bool waitUntilRefused(int port, std::chrono::milliseconds bound);

// A loopback port nothing listens on now. It is taken below the kernel's range for outgoing connections,
// so a port left free between two runs of a server is not handed to some client's connection meanwhile.
int freeLoopbackPort();

}  // namespace hcs::test
