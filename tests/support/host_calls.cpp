#include "support/host_calls.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "plugin/callout_registry.h"
#include "plugin/plugin.h"
#include "transport/callout.h"
#include "transport/callout_settings.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs::test {

std::string initDoc(const std::string& configFile, const std::string& type, const std::string& id,
                    const std::string& db) {
  return "<INIT><DB_CONNECTION>" + db + "</DB_CONNECTION><CONFIG_FILE>" + configFile +
         "</CONFIG_FILE><NODE_NAME>APP</NODE_NAME><ATTR_TYPE>" + type + "</ATTR_TYPE><ATTR_TYPE_ID>" + id +
         "</ATTR_TYPE_ID></INIT>";
}

std::string registerInterface(const std::string& uri, uint32_t timeoutMs) {
  static std::atomic<int32_t> nextKey{7000};
  const int32_t key = nextKey++;
  const CUri parsed{UCString(uri)};
  EXPECT_TRUE(calloutRegistry().insert(
      key, std::make_unique<Callout>(parsed, readCalloutSettings(parsed, timeoutMs).settings)));
  return std::to_string(key);
}

std::string registerWithSettings(const std::string& uri, const std::string& typeName,
                                 CalloutMetrics* metrics) {
  static std::atomic<int32_t> nextKey{9700};
  const int32_t key = nextKey++;
  const CUri parsed{UCString(uri)};
  EXPECT_TRUE(calloutRegistry().insert(
      key, std::make_unique<Callout>(parsed, readCalloutSettings(parsed, kCalloutTimeoutMs).settings,
                                     typeName, metrics)));
  return std::to_string(key);
}

std::string attribute(const std::string& type, const std::string& value, const std::string& root) {
  return "<" + root + "><ATTR_TYPE_ID>" + type + "</ATTR_TYPE_ID><VALUE>" + value + "</VALUE></" + root + ">";
}

std::string callScore(const std::string& request, const std::string& inbound, const std::string& matched,
                      uint32_t maxResultSize, int32_t inboundLength) {
  std::string buffer(maxResultSize + 1, '\x7f');
  const int32_t status = scoreImpl(
      request.data(), static_cast<int32_t>(request.size()), inboundLength == 0 ? nullptr : inbound.data(),
      inboundLength > 0 ? static_cast<int32_t>(inbound.size()) : inboundLength, matched.data(),
      static_cast<int32_t>(matched.size()), buffer.data(), maxResultSize);
  return std::to_string(status) + "|" + buffer.c_str();
}

HttpTestAnswer echo(const HttpTestRequest& request) { return HttpTestAnswer::ok(request.body); }

int scoreOwnValues(const std::string& key, const std::string& tag, int calls) {
  int wrong = 0;
  for (int i = 0; i < calls; ++i) {
    const std::string value = tag + "-" + std::to_string(i);
    const std::string answer = callScore("<R/>", attribute(key, value), attribute(key, value));
    if (!answer.starts_with("0|") || answer.find("<VALUE>" + value + "</VALUE>") == std::string::npos)
      ++wrong;
  }
  return std::min(wrong, 255);
}

int exitStatus(pid_t child, std::chrono::milliseconds bound) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
  pollfd ended{pidfd, POLLIN, 0};
  const bool done = pidfd >= 0 && ::poll(&ended, 1, static_cast<int>(bound.count())) == 1;
  if (pidfd >= 0) ::close(pidfd);
  if (!done) ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  return done && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace hcs::test
