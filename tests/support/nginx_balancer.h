#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace hcs::test {

// nginx as a reverse proxy in front of instances of a scoring service: the binary of the Debian package
// run by the test as a plain process in the foreground (no system service, no root needed), with its own
// nginx.conf, pid file, logs and temporary folders in a folder of its own, on a free loopback port. Its
// upstream block is the one the README recommends. Every request is logged with the instances nginx
// tried for it, so the requests each instance answered can be counted. One thread drives it.
class NginxBalancer {
 public:
  struct Options {
    // Seconds nginx keeps an idle client connection open (its keepalive_timeout); its default is 75.
    int idleClientSeconds = 75;
  };

  // What the access log holds so far.
  struct Tally {
    std::map<std::string, long> servedBy;  // "127.0.0.1:port" → requests it answered with 200
    long requests = 0;
    long failed = 0;          // answered with another status than 200
    long passedOn = 0;        // tried on more than one instance before nginx answered
    long newConnections = 0;  // first requests on a client connection

    long answeredBy(const std::string& instance) const {
      const auto found = servedBy.find(instance);
      return found == servedBy.end() ? 0 : found->second;
    }
  };

  // False when the nginx binary is not installed (scripts/setup-deps.sh installs it); tests then skip.
  static bool available();

  // Starts nginx with an upstream of `instances` ("127.0.0.1:port" each) and waits until its port
  // answers. Throws std::runtime_error with the error log when it does not within 10 s.
  NginxBalancer(const std::vector<std::string>& instances, const Options& options);
  ~NginxBalancer();
  NginxBalancer(const NginxBalancer&) = delete;
  NginxBalancer& operator=(const NginxBalancer&) = delete;

  // "http://127.0.0.1:port" followed by `pathAndQuery`.
  std::string uri(const std::string& pathAndQuery) const;

  // `nginx -s reload`, as an operator reloads it, then waits until the workers that ran before have
  // ended and new ones run; how long that took. Throws std::runtime_error when it does not within 10 s.
  std::chrono::milliseconds reload();

  // Ends nginx (a fast shutdown, which closes its connections to the instances); the logs stay readable.
  void stop();

  // The access log as it stands: each call reads only what was written since the last.
  const Tally& tally();
  // Waits at most `bound` until `instance` has answered a request logged after this call began.
  bool waitUntilServes(const std::string& instance, std::chrono::milliseconds bound);

  std::string errorLog() const;

 private:
  std::vector<std::string> command(const std::vector<std::string>& extra) const;
  std::vector<pid_t> workers() const;

  TempDir dir_;
  int port_;
  std::unique_ptr<ChildProcess> master_;
  Tally tally_;
  size_t logRead_ = 0;  // bytes of the access log already counted
};

}  // namespace hcs::test
