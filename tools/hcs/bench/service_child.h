#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace hcs::bench {

// `hcs serve` in a child process on a free loopback port, so the service's work never shares the
// benchmark's threads or its CPU count. The child dies with this process however it ends, and is
// killed and reaped with this object.
class ServiceChild {
 public:
  // Runs `program` (an hcs; "/proc/self/exe" when this process is one) as
  // `hcs serve <serveArguments> --port 0`. Throws std::runtime_error when the child does not say where
  // it listens within 5 s (its own complaint, if any, goes to this process's stderr).
  ServiceChild(const std::string& program, const std::vector<std::string>& serveArguments);
  ~ServiceChild();
  ServiceChild(const ServiceChild&) = delete;
  ServiceChild& operator=(const ServiceChild&) = delete;

  // "http://127.0.0.1:<port>/score", or https
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
