#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <curl/curl.h>

#include "bench/alloc_count.h"
#include "bench/call_pattern.h"
#include "bench/curl_clients.h"
#include "bench/floor_client.h"
#include "bench/harness.h"
#include "bench/process_resources.h"
#include "bench/report.h"
#include "bench/service_child.h"
#include "bench/service_url.h"
#include "bench/throwaway_pki.h"
#include "commands/commands.h"
#include "commands/local_service.h"
#include "host/bundled_files.h"
#include "host/metrics_capture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"

namespace hcs::tool {
namespace {

using bench::CallDocuments;
using bench::Caller;
using bench::CallerFactory;

struct BenchOptions {
  std::string url;
  std::string plugin = host::bundledPlugin();
  std::vector<int> threads{1};
  long calls = 20000;
  int rounds = 10;
  std::vector<std::string> sides{std::string(bench::kFloor), std::string(bench::kCurlMulti),
                                 std::string(bench::kCurlEasy), std::string(bench::kPlugin)};
  bool pluginOnly = false;
  bool echo = false;
  bool tls = false;
  bool reconnect = false;
  bool noResume = false;
  bool json = false;
  std::string pattern = "usual";
};

// A caller posting the calls' wire documents in turn through a client of type Client made for `target`.
template <class Client, class Target>
CallerFactory baseline(const Target& target, const std::vector<CallDocuments>& calls) {
  return [&target, &calls] {
    return [client = std::make_shared<Client>(target), &calls, next = size_t{0}]() mutable {
      return client->post(calls[next++ % calls.size()].wire);
    };
  };
}

CallerFactory pluginSide(const host::PluginLibrary& plugin, const std::vector<CallDocuments>& calls) {
  return [&plugin, &calls] {
    return [&plugin, &calls, next = size_t{0}, reply = std::vector<char>(4097)]() mutable {
      const CallDocuments& call = calls[next++ % calls.size()];
      return plugin.score(call.request.data(), static_cast<int32_t>(call.request.size()), call.inbound.data(),
                          static_cast<int32_t>(call.inbound.size()), call.matched.data(),
                          static_cast<int32_t>(call.matched.size()), reply.data(), 4096) == 0;
    };
  };
}

struct Side {
  std::string_view name;
  CallerFactory make;
};

// Each thread count in turn; at each, the sides take turns round after round (starting with another
// side each round), so a slow patch of the machine falls on all of them alike. False, with a word on
// stderr, when a side could not make its first call.
bool measure(const BenchOptions& options, const std::vector<Side>& sides,
             const std::function<long long()>& serviceCpu, bench::BenchReport& report) {
  for (const int threads : options.threads) {
    bench::CountRun run;
    run.threads = threads;
    for (const Side& side : sides) run.sides.push_back({std::string(side.name), {}});
    const long perThread = std::max<long>(1, options.calls / options.rounds / threads);
    for (int round = 0; round < options.rounds; ++round) {
      for (size_t turn = 0; turn < sides.size(); ++turn) {
        const size_t s = (static_cast<size_t>(round) + turn) % sides.size();
        // The plugin's memory from its first calls on: what a long-running host would see grow if a
        // call left something behind.
        const auto rssStart = [&] {
          if (report.rssStartKiB == 0 && sides[s].name == bench::kPlugin)
            report.rssStartKiB = bench::residentKiB();
        };
        if (!bench::runTimed(threads, perThread, sides[s].make, serviceCpu, run.sides[s].totals, rssStart)) {
          std::fprintf(
              stderr, "hcs bench: %.*s could not make one call to %s with %d thread(s); is the service up?\n",
              static_cast<int>(sides[s].name.size()), sides[s].name.data(), report.url.c_str(), threads);
          return false;
        }
      }
    }
    report.runs.push_back(std::move(run));
  }
  report.rssEndKiB = bench::residentKiB();
  return true;
}

int benchWithPlugin(const host::PluginLibrary& plugin, const std::string& url, const BenchOptions& options,
                    const std::function<long long()>& serviceCpu, bench::BenchReport& report) {
  // The baselines post where the plugin posts, with the TLS settings it reads from the same query.
  bench::ServiceUrl service;
  std::string why;
  if (!bench::readServiceUrl(url, service, why)) {
    std::fprintf(stderr, "hcs bench: initPlugin would refuse %s: %s\n", url.c_str(), why.c_str());
    return 2;
  }
  const auto asked = [&](std::string_view side) {
    return std::find(options.sides.begin(), options.sides.end(), side) != options.sides.end() &&
           (!options.pluginOnly || side == bench::kPlugin);
  };
  report.tls = service.settings.tls;
  const bool floor = asked(bench::kFloor) && !service.settings.tls;
  if (asked(bench::kFloor) && service.settings.tls)
    report.notes.push_back("floor left out: it speaks no TLS");
  bench::HttpTarget target;
  if (floor && !bench::parseHttpTarget(service.url, target)) {
    std::fprintf(stderr, "hcs bench: %s is not http://host[:port][/path], which the floor client needs\n",
                 url.c_str());
    return 2;
  }
  TempDirectory dir;
  const std::string config = dir.write("bench.ini", "[ATTR_URI]\nBENCH=" + url + "\n");
  const std::string init = host::initDocument(config, "BENCH", "BENCH", 1);
  char errorText[1024] = "";
  if (plugin.initPlugin(init.data(), static_cast<int32_t>(init.size()), errorText) != 0) {
    std::fprintf(stderr, "hcs bench: initPlugin: %s\n", errorText);
    return 2;
  }
  const std::vector<CallDocuments> calls = bench::callsOf(options.pattern);
  std::vector<Side> sides;
  if (floor) sides.push_back({bench::kFloor, baseline<bench::FloorClient>(target, calls)});
  if (asked(bench::kCurlMulti))
    sides.push_back({bench::kCurlMulti, baseline<bench::CurlMultiClient>(service, calls)});
  if (asked(bench::kCurlEasy))
    sides.push_back({bench::kCurlEasy, baseline<bench::CurlEasyClient>(service, calls)});
  if (asked(bench::kPlugin)) sides.push_back({bench::kPlugin, pluginSide(plugin, calls)});
  if (sides.empty()) {
    std::fprintf(stderr, "hcs bench: no side left to measure: the floor speaks no TLS\n");
    return 2;
  }
  if (!measure(options, sides, serviceCpu, report)) return 2;
  for (const bench::CountRun& run : report.runs) {
    for (const bench::SideRun& side : run.sides) {
      if (side.totals.failed > 0) return 1;
    }
  }
  return 0;
}

// `hcs serve` as --tls and --reconnect want it: the reference service in a child process, over TLS with
// a throwaway CA, closing each connection after one reply. Enough workers for every side's connections
// at the largest thread count and the plugin's idle ones, which stay open while the other sides run.
std::vector<std::string> childArguments(const BenchOptions& options, const bench::ThrowawayPki* pki) {
  const int threads = *std::max_element(options.threads.begin(), options.threads.end());
  std::vector<std::string> arguments{"--host",       "127.0.0.1",
                                     "--threads",    std::to_string(std::max(64, 2 * threads + 16)),
                                     "--keep-alive", "60"};
  if (pki != nullptr)
    arguments.insert(arguments.end(), {"--tls-cert", pki->certificate(), "--tls-key", pki->key()});
  if (options.noResume) arguments.push_back("--no-tls-resumption");
  if (options.reconnect) arguments.insert(arguments.end(), {"--requests-per-connection", "1"});
  return arguments;
}

// What the service does to connections, said once under the heading.
void noteConnections(const BenchOptions& options, bench::BenchReport& report) {
  if (!options.reconnect) return;
  std::string note = "a new connection for every call (the service closes each after one reply)";
  if (options.tls) {
    note += options.noResume
                ? ", TLS sessions never resumed (the service refuses; the plugin's cache stays on)"
                : ", TLS sessions resumed";
  }
  report.notes.push_back(note);
}

int runBench(const BenchOptions& options) {
  bench::BenchReport report;
  // First, before the plugin or anything else initialises libcurl with the usual memory functions.
  report.curlAllocationsApart = bench::countCurlAllocations();
  // Once, before the clients' threads: curl_easy_init's own initialisation is not thread-safe.
  if (!report.curlAllocationsApart) curl_global_init(CURL_GLOBAL_DEFAULT);
  report.allocationsCounted = bench::allocationsCounted();
  bench::raiseDescriptorLimit();
  std::optional<LocalService> service;
  std::optional<bench::ThrowawayPki> pki;
  std::optional<bench::ServiceChild> child;
  constexpr const char* kSelf = "/proc/self/exe";
  report.url = options.url;
  report.service = "given";
  if (options.echo) {
    child.emplace(kSelf, std::vector<std::string>{"--echo"});
    report.url = child->url();
    report.service = "echo";
  } else if (options.tls || options.reconnect) {
    if (options.tls) pki.emplace();
    child.emplace(kSelf, childArguments(options, pki ? &*pki : nullptr));
    report.url = child->url() + (pki ? "?caFile=" + bench::queryValue(pki->ca()) : "");
    report.service = "reference-child";
  } else if (report.url.empty()) {
    service.emplace();
    report.url = service->url();
    report.service = "reference";
  }
  noteConnections(options, report);
  report.pattern = options.pattern;
  report.callsPerSide = options.calls;
  report.rounds = options.rounds;
  host::MetricsCapture metrics;
  std::string error;
  const std::unique_ptr<host::PluginLibrary> plugin = host::PluginLibrary::open(options.plugin, error);
  if (!plugin) {
    std::fprintf(stderr, "hcs bench: %s\n", error.c_str());
    return 2;
  }
  std::function<long long()> serviceCpu;
  if (child) serviceCpu = [&child] { return child->cpuNanos(); };
  const int status = benchWithPlugin(*plugin, report.url, options, serviceCpu, report);
  if (status == 2) return status;
  // The same counters a host's metrics file shows.
  report.outcomes = metrics.outcomeCounts();
  if (options.json) {
    bench::printJson(stdout, report);
  } else {
    bench::printText(stdout, report);
  }
  return status;
}

// Which service the sides post to: --url, or one hcs starts.
void addServiceOptions(CLI::App* command, BenchOptions& options) {
  CLI::Option* url = command->add_option("--url", options.url,
                                         "scoring service to use (default: start the reference service)");
  CLI::Option* echo =
      command->add_flag("--echo", options.echo, "start hcs serve --echo in a child process and use it")
          ->excludes(url);
  CLI::Option* tls =
      command
          ->add_flag(
              "--tls", options.tls,
              "measure over TLS: hcs serve --tls-cert … in a child process, with a throwaway CA made for "
              "the run and removed after it; the floor, which speaks no TLS, is left out (for a TLS "
              "service of your own: --url 'https://…?caFile=…')")
          ->excludes(url)
          ->excludes(echo);
  CLI::Option* reconnect =
      command
          ->add_flag(
              "--reconnect", options.reconnect,
              "a new connection for every call: the reference service, in a child process, closes each "
              "connection after one reply")
          ->excludes(url)
          ->excludes(echo);
  command
      ->add_flag(
          "--no-resume", options.noResume,
          "with --tls --reconnect: the service refuses to resume TLS sessions, so every connection makes "
          "a full handshake (the plugin keeps its session cache on; this shows what it saves)")
      ->needs(tls)
      ->needs(reconnect);
}

// What is measured, how much, and how it is written.
void addMeasureOptions(CLI::App* command, BenchOptions& options) {
  command
      ->add_option("--pattern", options.pattern,
                   "what changes from call to call: same (nothing), usual (the matched record), all-new "
                   "(all three documents)")
      ->check(
          CLI::IsMember(std::vector<std::string>(std::begin(bench::kPatterns), std::end(bench::kPatterns))))
      ->capture_default_str();
  command
      ->add_option(
          "--threads", options.threads,
          "calling threads per side, each with its own connection; a list (1,2,4,8,16,64) measures each "
          "count in turn, one line per count")
      ->delimiter(',')
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  command->add_option("--calls", options.calls, "timed calls per side at each thread count")
      ->check(CLI::Range(1L, 1000000000L))
      ->capture_default_str();
  command->add_option("--rounds", options.rounds, "turns the sides take")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  CLI::Option* sides =
      command->add_option("--sides", options.sides, "the sides to measure (to profile one alone)")
          ->delimiter(',')
          ->check(CLI::IsMember({bench::kFloor, bench::kCurlMulti, bench::kCurlEasy, bench::kPlugin}))
          ->capture_default_str();
  command->add_flag("--plugin-only", options.pluginOnly, "skip the three baselines (--sides plugin)")
      ->excludes(sides);
  command->add_flag("--json", options.json, "write the figures as one JSON object");
  command->add_option("--plugin", options.plugin, "plugin library to load")->capture_default_str();
}

}  // namespace

void addBenchCommand(CLI::App& app, int& status) {
  auto options = std::make_shared<BenchOptions>();
  CLI::App* command = app.add_subcommand(
      "bench",
      "measure score calls through the plugin against three baselines posting the same bytes to the same "
      "service: a bare socket client (the floor), libcurl driven as the plugin drives it, curl_easy_perform");
  addServiceOptions(command, *options);
  addMeasureOptions(command, *options);
  command->callback([options, &status] {
    try {
      status = runBench(*options);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "hcs bench: %s\n", e.what());
      status = 2;
    }
  });
}

}  // namespace hcs::tool
