#include "support/hcs_fleet.h"

#include <regex>
#include <stdexcept>
#include <thread>

namespace hcs::test {

using std::chrono::milliseconds;

HcsInstance::HcsInstance(const std::string& tool, const std::string& outputFile)
    : tool_(tool), outputFile_(outputFile), port_(freeLoopbackPort()) {}

void HcsInstance::start() {
  // The port was free a moment ago; a start that loses it to another program is tried again briefly.
  for (int attempt = 0; attempt < 5; ++attempt) {
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{tool_, "serve", "--host", "127.0.0.1", "--port", std::to_string(port_)},
        outputFile_);
    if (waitForPort(port_, *process_, milliseconds(10000))) return;
    process_.reset();
    std::this_thread::sleep_for(milliseconds(200));
  }
  throw std::runtime_error("hcs serve did not listen on " + address() + ":\n" + output());
}

void HcsInstance::stop() {
  if (!process_) return;
  process_->signal(SIGTERM);
  const bool closed = waitUntilRefused(port_, milliseconds(10000));
  draining_.push_back(std::move(process_));
  if (!closed) {
    kill();
    throw std::runtime_error("hcs serve on " + address() + " still listened 10 s after SIGTERM");
  }
}

void HcsInstance::finish() {
  for (auto& run : draining_) {
    if (run->waitEnd(milliseconds(15000)) < 0) {
      kill();
      throw std::runtime_error("hcs serve on " + address() + " did not end 15 s after SIGTERM");
    }
  }
  draining_.clear();
}

void HcsInstance::kill() {
  process_.reset();
  draining_.clear();
}

long HcsInstance::served() const {
  // Each run ends its output with this line.
  static const std::regex stopped("stopped after ([0-9]+) requests");
  const std::string text = output();
  long total = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), stopped), end; it != end; ++it)
    total += std::stol((*it)[1].str());
  return total;
}

std::string HcsInstance::output() const { return TempDir::read(outputFile_); }

HcsFleet::HcsFleet(const std::string& tool, int instances) {
  for (int i = 0; i < instances; ++i)
    instances_.push_back(
        std::make_unique<HcsInstance>(tool, dir_.file("instance" + std::to_string(i) + ".out")));
  for (auto& instance : instances_) instance->start();
}

std::vector<std::string> HcsFleet::addresses() const {
  std::vector<std::string> all;
  for (const auto& instance : instances_) all.push_back(instance->address());
  return all;
}

std::string HcsFleet::uri(const std::string& pathAndQuery) const {
  std::string text = "http://";
  for (const std::string& address : addresses()) text += (text.size() > 7 ? "," : "") + address;
  return text + pathAndQuery;
}

std::vector<HcsFleet::Restart> HcsFleet::rollingRestart(milliseconds down,
                                                        const std::function<void(const HcsInstance&)>& back) {
  using Clock = std::chrono::steady_clock;
  const auto since = [](Clock::time_point from) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - from);
  };
  std::vector<Restart> restarts;
  for (auto& instance : instances_) {
    Restart restart{instance->address()};
    const auto began = Clock::now();
    instance->stop();
    restart.closing = since(began);
    std::this_thread::sleep_for(down);
    const auto started = Clock::now();
    instance->start();
    back(*instance);
    restart.returning = since(started);
    restart.took = since(began);
    restarts.push_back(restart);
  }
  return restarts;
}

void HcsFleet::stopAll() {
  for (auto& instance : instances_) instance->stop();
  for (auto& instance : instances_) instance->finish();
}

}  // namespace hcs::test
