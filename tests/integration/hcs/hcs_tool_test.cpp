// hcs run as a user runs it: what it refuses, a benchmark sweep, and the demo script's build.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "integration/hcs/shell_run.h"

namespace hcs {
namespace {

using test::shell;
using test::ShellRun;

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The echo service once took --threads and --keep-alive and ignored them; a benchmark once ran every
// call against a service that could not answer one. TLS options come whole, and never where they would
// be ignored.
TEST(HcsTool, RefusesWhatItWouldIgnoreOrCannotMeasure) {
  const std::pair<std::string, std::string> cases[] = {
      {"serve --echo --threads 4", "--threads excludes --echo"},
      {"serve --echo --keep-alive 5", "--keep-alive excludes --echo"},
      {"serve --tls-cert c.pem", "--tls-cert requires --tls-key"},
      {"serve --tls-key c.key", "--tls-key requires --tls-cert"},
      {"serve --client-ca ca.pem", "--client-ca requires --tls-cert"},
      {"serve --echo --tls-cert c.pem --tls-key c.key", "--tls-cert excludes --echo"},
      {"bench --tls --url https://127.0.0.1:1/", "--url excludes --tls"},
      {"bench --reconnect --echo", "--echo excludes --reconnect"},
      {"bench --tls --no-resume", "--no-resume requires --reconnect"},
      {"bench --threads 1,0", "--threads: Value 0 not in range 1 to 256"},
      {"bench --echo --url http://127.0.0.1:1/", "--url excludes --echo"},
      {"bench --url http://127.0.0.1:1/score --calls 10",
       "floor could not make one call to http://127.0.0.1:1/score with 1 thread(s); is the service up?"}};
  for (const auto& [arguments, message] : cases) {
    const ShellRun run = shell(std::string(HCS_TOOL_PATH) + " " + arguments + " 2>&1", 20);
    EXPECT_NE(run.status, 0) << arguments;
    EXPECT_NE(run.out.find(message), std::string::npos) << arguments << ": " << run.out;
  }
}

// Every side at each thread count, 80 past the 64 connections the echo service once allowed; and on the
// common path the plugin's own code allocates nothing per call.
TEST(HcsBenchThreads, SweepsThreadCountsAgainstTheEchoServiceWithoutAFailure) {
  const ShellRun run =
      shell(std::string(HCS_TOOL_PATH) + " bench --echo --threads 1,80 --calls 320 --rounds 2 --json", 600);
  ASSERT_EQ(run.status, 0) << run.out;
  const test::TempDir dir;
  const std::string json = dir.write("bench.json", run.out);
  EXPECT_EQ(shell("python3 -m json.tool " + json + " >/dev/null 2>&1 && echo valid", 60).out, "valid\n");
  EXPECT_EQ(occurrences(run.out, "\"failed\": 0,"), 8u) << run.out;
  for (const char* side : {"floor", "curl-multi", "curl-easy", "plugin"})
    EXPECT_EQ(occurrences(run.out, "{\"name\": \"" + std::string(side) + "\""), 2u) << side << "\n"
                                                                                    << run.out;
  if (run.out.find("\"allocations_counted\": true") != std::string::npos) {
    const size_t plugin = run.out.find("{\"name\": \"plugin\"");
    EXPECT_EQ(run.out.find("\"own_allocations_per_call\": 0,", plugin) < run.out.find('}', plugin), true)
        << run.out;
  }
}

// The demo once built every target, tests and benchmarks included.
TEST(DemoScript, BuildsOnlyThePluginAndHcs) {
  namespace fs = std::filesystem;
  test::TempDir tree;
  const fs::path root = tree.file("");
  fs::create_directories(root / "scripts");
  fs::create_directories(root / "bin");
  fs::create_directories(root / "build/tools/hcs");
  for (const char* script : {"demo.sh", "build.sh"})
    fs::copy_file(fs::path(HCS_SOURCE_DIR) / "scripts" / script, root / "scripts" / script);
  // Stand-ins that say how they were called: set-up has nothing to do, cmake and hcs log their arguments.
  tree.write("scripts/setup-deps.sh", "exit 0\n");
  tree.write("bin/cmake", "#!/bin/sh\necho \"cmake $*\" >> " + tree.file("calls") + "\n");
  tree.write("build/tools/hcs/hcs", "#!/bin/sh\necho \"hcs $*\" >> " + tree.file("calls") + "\n");
  for (const char* program : {"bin/cmake", "build/tools/hcs/hcs"})
    fs::permissions(root / program, fs::perms::owner_all, fs::perm_options::add);
  const ShellRun run =
      shell("env PATH=" + tree.file("bin") + ":$PATH bash " + tree.file("scripts/demo.sh") + " 2>&1", 60);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(test::TempDir::read(tree.file("calls")),
            "cmake --preset default\n"
            "cmake --build --preset default --target httpCalloutScoring --target hcs\n"
            "hcs demo\n");
}

}  // namespace
}  // namespace hcs
