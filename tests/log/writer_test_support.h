#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/ini_fixture.h"
#include "log/event_log.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs::test {

inline CUri uri(const std::string& text) { return CUri(UCString(text)); }

inline std::vector<icu::UnicodeString> unicodeLines(std::initializer_list<std::string> lines) {
  std::vector<icu::UnicodeString> out;
  for (const std::string& line : lines) out.push_back(UCString(line));
  return out;
}

inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs `body(thread index)` on `count` threads released together, so that they really contend.
inline void runTogether(int count, const std::function<void(int)>& body) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < count) std::this_thread::yield();
      body(t);
    });
  }
  for (auto& thread : threads) thread.join();
}

// Stands in for the system's event log: records every call ("type|category|id|text") and fails on request.
class RecordingEventLog : public CEventLog {
 public:
  Source registerSource(const std::string& name, uint32_t& error) override {
    std::lock_guard lock(mutex);
    registered.push_back(name);
    error = registerError;
    return registerError == 0 ? &registered : nullptr;
  }
  bool report(Source source, uint16_t type, uint16_t category, uint32_t id, const std::string& text,
              uint32_t& error) override {
    std::lock_guard lock(mutex);
    EXPECT_EQ(source, &registered);
    events.push_back(std::to_string(type) + "|" + std::to_string(category) + "|" + std::to_string(id) + "|" +
                     text);
    error = reportError;
    return reportError == 0;
  }
  void deregisterSource(Source source) override {
    EXPECT_EQ(source, &registered);
    ++deregistered;
  }

  std::mutex mutex;
  std::vector<std::string> registered;
  std::vector<std::string> events;
  int deregistered = 0;
  uint32_t registerError = 0;
  uint32_t reportError = 0;
};

}  // namespace hcs::test
