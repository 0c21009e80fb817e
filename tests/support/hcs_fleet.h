#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace hcs::test {

// One `hcs serve` process (`tool` is the hcs binary, HCS_TOOL_PATH in the tests) on a loopback port of its
// own that stays the same when it is stopped and started again, as an instance of a scoring service is
// restarted in place. Its output is appended to `outputFile`. One thread drives it.
class HcsInstance {
 public:
  HcsInstance(const std::string& tool, const std::string& outputFile);

  // Starts the process and waits until its port accepts connections. Throws std::runtime_error, with
  // the instance's output, when it does not within 10 s.
  void start();
  // SIGTERM, then waits until the port refuses connections. The process drains meanwhile: it ends each
  // connection it holds after the request under way, and a connection a client keeps idle only when the
  // service's keep-alive (10 s) runs out; start() may run on the same port before that. Throws
  // std::runtime_error (the process killed) when the port still answers after 10 s.
  void stop();
  // Waits for every stopped run to end, 15 s each at most (then it is killed and throws).
  void finish();
  // SIGKILL to every run: ended at once, as a crash ends them; their answers are not counted.
  void kill();

  bool running() const { return process_ != nullptr; }
  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // Requests answered by the runs of this instance that have ended, as each reports on its way out.
  long served() const;
  std::string output() const;

 private:
  std::string tool_;
  std::string outputFile_;
  int port_;
  std::unique_ptr<ChildProcess> process_;
  std::vector<std::unique_ptr<ChildProcess>> draining_;
};

// Instances of the reference service, started together and stopped when the fleet goes.
class HcsFleet {
 public:
  // One instance's turn in a rolling restart: from the stop signal until it was back (its port answered
  // and `back` returned); of that, until the port refused connections, and from the new start until back.
  struct Restart {
    std::string address;
    std::chrono::milliseconds took{0};
    std::chrono::milliseconds closing{0};
    std::chrono::milliseconds returning{0};
  };

  explicit HcsFleet(const std::string& tool, int instances = 3);
  HcsFleet(const HcsFleet&) = delete;
  HcsFleet& operator=(const HcsFleet&) = delete;

  HcsInstance& operator[](size_t i) { return *instances_.at(i); }
  size_t size() const { return instances_.size(); }
  std::vector<std::string> addresses() const;
  // "http://127.0.0.1:p1,127.0.0.1:p2,…" followed by `pathAndQuery`: every instance in one callout URI.
  std::string uri(const std::string& pathAndQuery) const;

  // Restarts the instances one after another, each refusing connections for `down`. After each start
  // `back` is called with the instance and must return once it serves again (for example when a
  // balancer has sent it a request); only then is the next one stopped.
  std::vector<Restart> rollingRestart(std::chrono::milliseconds down,
                                      const std::function<void(const HcsInstance&)>& back);

  // Stops every instance and waits for every run to end; afterwards served() of each holds all its
  // runs. Clients that keep idle connections to the instances should close them first.
  void stopAll();

 private:
  TempDir dir_;
  std::vector<std::unique_ptr<HcsInstance>> instances_;
};

}  // namespace hcs::test
