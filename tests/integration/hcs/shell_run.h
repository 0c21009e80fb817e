#pragma once

#include <cstdio>
#include <string>

#include <sys/wait.h>

namespace hcs::test {

struct ShellRun {
  int status = -1;
  std::string out;
};

// Runs `command` through the shell, ended after `seconds`, so a command that wrongly keeps running
// fails the test instead of hanging it. It stays in the test's process group: ending the test ends it.
inline ShellRun shell(const std::string& command, int seconds) {
  ShellRun run;
  FILE* pipe = ::popen(("timeout --foreground " + std::to_string(seconds) + " " + command).c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.out.append(chunk, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace hcs::test
