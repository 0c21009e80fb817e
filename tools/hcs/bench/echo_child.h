#pragma once

#include <string>

#include <sys/types.h>

namespace hcs::bench {

// `hcs serve --echo` in a child process on a free loopback port, so the service's work never shares
// the benchmark's threads or its CPU count. The child dies with this process however it ends, and is
// killed and reaped with this object.
class EchoChild {
 public:
  // Runs this program (/proc/self/exe, which must be hcs). Throws std::runtime_error when the child
  // does not say where it listens within 5 s.
  EchoChild();
  ~EchoChild();
  EchoChild(const EchoChild&) = delete;
  EchoChild& operator=(const EchoChild&) = delete;

  // "http://127.0.0.1:<port>/score"
  const std::string& url() const { return url_; }
  // CPU time the child has used so far, all its threads, in nanoseconds; -1 when the system does not
  // tell.
  long long cpuNanos() const;

 private:
  void stop();

  pid_t pid_ = -1;
  std::string url_;
};

}  // namespace hcs::bench
