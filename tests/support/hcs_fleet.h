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
  // SIGTERM, then waits for the process to end and adds the requests it reports having answered to
  // `served()`. A connection a client keeps open and idle holds the process until the service's
  // keep-alive (10 s) runs out. Throws std::runtime_error (the process killed) after 15 s.
  void stop();
  // SIGKILL: ended at once, as a crash ends it; its answers are not counted.
  void kill();

  bool running() const { return process_ != nullptr; }
  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // Requests answered by the runs of this instance that stop() has ended.
  long served() const { return served_; }
  std::string output() const;

 private:
  std::string tool_;
  std::string outputFile_;
  int port_;
  std::unique_ptr<ChildProcess> process_;
  long served_ = 0;
};

// Instances of the reference service, started together and stopped when the fleet goes.
class HcsFleet {
 public:
  // One instance's turn in a rolling restart: from the stop signal until it was back (its port answered
  // and `back` returned); of that, how long the process took to end, and from its new start until back.
  struct Restart {
    std::string address;
    std::chrono::milliseconds took{0};
    std::chrono::milliseconds stopping{0};
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

  // Restarts the instances one after another, each down for `down`. After each start `back` is called
  // with the instance and must return once it serves again (for example when a balancer has sent it a
  // request); only then is the next one stopped.
  std::vector<Restart> rollingRestart(std::chrono::milliseconds down,
                                      const std::function<void(const HcsInstance&)>& back);

  // Stops every running instance; afterwards served() of each holds all its runs.
  void stopAll();

 private:
  TempDir dir_;
  std::vector<std::unique_ptr<HcsInstance>> instances_;
};

}  // namespace hcs::test
