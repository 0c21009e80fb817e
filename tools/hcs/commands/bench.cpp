#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "commands/commands.h"
#include "commands/local_service.h"
#include "host/bundled_files.h"
#include "host/metrics_capture.h"
#include "host/pairs.h"
#include "host/plugin_library.h"

namespace hcs::tool {
namespace {

using Clock = std::chrono::steady_clock;

struct BenchOptions {
  std::string url;
  std::string plugin = host::bundledPlugin();
  int threads = 1;
  long calls = 20000;
  int rounds = 5;
  bool pluginOnly = false;
  bool echo = false;
  std::string pattern = "usual";
};

// `hcs serve --echo` in a child process on a free loopback port, killed and reaped with this object.
class EchoChild {
 public:
  EchoChild() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("cannot start hcs serve --echo: no pipe");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec. The child dies with us, however we end.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      ::dup2(out[1], STDOUT_FILENO);
      ::execl("/proc/self/exe", "hcs", "serve", "--echo", "--port", "0", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c = 0;
    pollfd ready{out[0], POLLIN, 0};
    while (pid_ > 0 && line.size() < 200 && ::poll(&ready, 1, 5000) == 1 && ::read(out[0], &c, 1) == 1 &&
           c != '\n') {
      line += c;
    }
    ::close(out[0]);
    const std::string prefix = "listening on ";
    if (pid_ < 0 || line.rfind(prefix, 0) != 0) {
      stop();
      throw std::runtime_error("cannot start hcs serve --echo");
    }
    url_ = line.substr(prefix.size());
  }
  ~EchoChild() { stop(); }
  EchoChild(const EchoChild&) = delete;
  EchoChild& operator=(const EchoChild&) = delete;

  const std::string& url() const { return url_; }

 private:
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  std::string url_;
};

// Resident set size of this process in KiB (VmRSS), 0 where /proc does not tell.
long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

// The documents of one call and the bytes the plugin posts for them: markup already in upper case, so
// the plugin's ATTRS_TO_SCORE text is byte for byte the one the raw client posts.
struct CallDocuments {
  std::string request, inbound, matched, wire;
};

// A record of about 100 bytes, as a typical host's; `n` makes its value new.
std::string record(const char* name, int n) {
  char value[64];
  std::snprintf(value, sizeof value, "%s, Mill Lane %06d", name, n);
  return host::attributeRecord(1, value);
}

std::string wireDocument(const CallDocuments& call) {
  auto renamed = [](std::string record, const std::string& root) {
    record.replace(record.find("ATTRIBUTE>"), 10, root + ">");
    record.replace(record.rfind("ATTRIBUTE>"), 10, root + ">");
    return record;
  };
  return "<ATTRS_TO_SCORE>" + call.request + renamed(call.inbound, "ATTR1") + renamed(call.matched, "ATTR2") +
         "</ATTRS_TO_SCORE>\n";
}

// The calls of a pattern, used in turn: "same" repeats one pair; "usual" keeps the request and the
// inbound record and brings a new matched record each call, as a host scoring one record against its
// candidates does; "all-new" changes all three. More variants than any cache of the last document holds.
std::vector<CallDocuments> callsOf(const std::string& pattern) {
  std::vector<CallDocuments> calls;
  const int variants = pattern == "same" ? 1 : 64;
  for (int n = 0; n < variants; ++n) {
    const int changing = pattern == "all-new" ? n : 0;
    CallDocuments call{host::requestDocument(changing + 1), record("Jonathan Smithers", changing),
                       record("Jonathon Smithers", pattern == "same" ? 0 : n), ""};
    call.wire = wireDocument(call);
    calls.push_back(std::move(call));
  }
  return calls;
}

size_t collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// A plain libcurl keep-alive client posting the same bytes the plugin posts: the floor the plugin is
// measured against.
class RawClient {
 public:
  explicit RawClient(const std::string& url) {
    handle_ = curl_easy_init();
    if (handle_ == nullptr) throw std::runtime_error("curl_easy_init failed");
    headers_ = curl_slist_append(headers_, "Content-Type: text/xml; charset=UTF-8");
    headers_ = curl_slist_append(headers_, "Expect:");
    headers_ = curl_slist_append(headers_, "Accept:");
    curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_PROXY, "");
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &reply_);
  }
  ~RawClient() {
    curl_slist_free_all(headers_);
    curl_easy_cleanup(handle_);
  }
  bool post(const std::string& body) {
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    reply_.clear();
    long status = 0;
    return curl_easy_perform(handle_) == CURLE_OK &&
           curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
  }

 private:
  std::string reply_;
  CURL* handle_ = nullptr;
  curl_slist* headers_ = nullptr;
};

// CPU time this thread has used, in nanoseconds.
long long threadCpuNanos() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Runs `calls` calls spread over `threads` threads; returns the elapsed seconds, counts failures and
// adds the calling threads' CPU time to `cpuNanos` (which other processes on the machine do not
// inflate, unlike the elapsed time). `ready` runs once every thread has made its warm-up call, right
// before the timed calls.
template <class Make>
double timed(int threads, long calls, Make make, std::atomic<long>& failures,
             std::atomic<long long>& cpuNanos, const std::function<void()>& ready = {}) {
  std::vector<std::thread> workers;
  std::atomic<int> warmed{0};
  std::atomic<bool> go{false};
  const long share = calls / threads;
  Clock::time_point start;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      auto call = make();
      call();  // warm: connection open, caches filled
      ++warmed;
      while (!go.load()) std::this_thread::yield();
      const long long cpuStart = threadCpuNanos();
      for (long i = 0; i < share; ++i) {
        if (!call()) ++failures;
      }
      cpuNanos += threadCpuNanos() - cpuStart;
    });
  }
  while (warmed.load() < threads) std::this_thread::yield();
  if (ready) ready();
  start = Clock::now();
  go = true;
  for (auto& w : workers) w.join();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int benchWithPlugin(const host::PluginLibrary& library, const std::string& url, const BenchOptions& options);

int runBench(const BenchOptions& options) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  std::optional<LocalService> service;
  std::optional<EchoChild> echo;
  std::string url = options.url;
  if (options.echo) {
    echo.emplace();
    url = echo->url();
  } else if (url.empty()) {
    service.emplace();
    url = service->url();
  }
  host::MetricsCapture metrics;
  std::string error;
  const std::unique_ptr<host::PluginLibrary> plugin = host::PluginLibrary::open(options.plugin, error);
  if (!plugin) {
    std::fprintf(stderr, "hcs bench: %s\n", error.c_str());
    return 2;
  }
  // The same counters a host's metrics file shows.
  const int status = benchWithPlugin(*plugin, url, options);
  if (status != 2) host::printOutcomeCounts(stdout, metrics.outcomeCounts());
  return status;
}

int benchWithPlugin(const host::PluginLibrary& library, const std::string& url, const BenchOptions& options) {
  const host::PluginLibrary* plugin = &library;
  TempDirectory dir;
  const std::string config = dir.write("bench.ini", "[ATTR_URI]\nBENCH=" + url + "\n");
  const std::string init = host::initDocument(config, "BENCH", "BENCH", 1);
  char errorText[1024] = "";
  if (plugin->initPlugin(init.data(), static_cast<int32_t>(init.size()), errorText) != 0) {
    std::fprintf(stderr, "hcs bench: initPlugin: %s\n", errorText);
    return 2;
  }

  const std::vector<CallDocuments> calls = callsOf(options.pattern);
  auto pluginCall = [&] {
    return [&plugin, &calls, next = size_t{0}, buffer = std::vector<char>(4097)]() mutable {
      const CallDocuments& call = calls[next++ % calls.size()];
      return plugin->score(call.request.data(), static_cast<int32_t>(call.request.size()),
                           call.inbound.data(), static_cast<int32_t>(call.inbound.size()),
                           call.matched.data(), static_cast<int32_t>(call.matched.size()), buffer.data(),
                           4096) == 0;
    };
  };
  auto rawCall = [&] {
    return [&calls, next = size_t{0}, client = std::make_shared<RawClient>(url)]() mutable {
      return client->post(calls[next++ % calls.size()].wire);
    };
  };

  std::printf("hcs bench: %s%s, pattern %s, %d thread(s), %ld calls per side in %d alternating rounds\n",
              url.c_str(), options.echo ? " (echo)" : "", options.pattern.c_str(), options.threads,
              options.calls, options.rounds);
  std::atomic<long> pluginFailures{0}, rawFailures{0};
  double pluginSeconds = 0, rawSeconds = 0;
  std::atomic<long long> pluginCpu{0}, rawCpu{0};
  const long perRound = std::max<long>(options.calls / options.rounds, options.threads);
  // Memory of the plugin side from its first warm call to its end: what a long-running host would see
  // grow if a call left something behind.
  long rssStart = 0;
  for (int round = 0; round < options.rounds; ++round) {
    pluginSeconds += timed(options.threads, perRound, pluginCall, pluginFailures, pluginCpu, [&] {
      if (round == 0) rssStart = residentKiB();
    });
    if (!options.pluginOnly) rawSeconds += timed(options.threads, perRound, rawCall, rawFailures, rawCpu);
  }
  const long rssEnd = residentKiB();
  const double done = static_cast<double>(perRound / options.threads * options.threads) * options.rounds;
  const double pluginRate = done / pluginSeconds;
  std::printf("plugin score    %10.0f calls/s  (%ld failed)\n", pluginRate, pluginFailures.load());
  if (!options.pluginOnly) {
    const double rawRate = done / rawSeconds;
    const double addedMicros = (1.0 / pluginRate - 1.0 / rawRate) * options.threads * 1e6;
    std::printf("raw libcurl     %10.0f calls/s  (%ld failed)\n", rawRate, rawFailures.load());
    std::printf("ratio           %10.3f\n", pluginRate / rawRate);
    std::printf("added per call  %10.2f us\n", addedMicros);
    const double pluginCpuMicros = static_cast<double>(pluginCpu.load()) / done / 1e3;
    const double rawCpuMicros = static_cast<double>(rawCpu.load()) / done / 1e3;
    std::printf("cpu per call    %10.2f us plugin, %.2f us raw, %.2f us added (calling threads)\n",
                pluginCpuMicros, rawCpuMicros, pluginCpuMicros - rawCpuMicros);
  }
  std::printf("plugin RSS      start %ld KiB, end %ld KiB, growth %ld KiB\n", rssStart, rssEnd,
              rssEnd - rssStart);
  return pluginFailures.load() == 0 && rawFailures.load() == 0 ? 0 : 1;
}

}  // namespace

void addBenchCommand(CLI::App& app, int& status) {
  auto options = std::make_shared<BenchOptions>();
  CLI::App* command = app.add_subcommand(
      "bench",
      "measure score calls/s through the plugin against a raw libcurl client posting the same bytes");
  CLI::Option* url = command->add_option("--url", options->url,
                                         "scoring service to use (default: start the reference service)");
  command->add_flag("--echo", options->echo, "start hcs serve --echo in a child process and use it")
      ->excludes(url);
  command
      ->add_option("--pattern", options->pattern,
                   "what changes from call to call: same (nothing), usual (the matched record), all-new "
                   "(all three documents)")
      ->check(CLI::IsMember({"same", "usual", "all-new"}))
      ->capture_default_str();
  command->add_option("--threads", options->threads, "calling threads")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  command->add_option("--calls", options->calls, "calls per side")
      ->check(CLI::Range(1L, 1000000000L))
      ->capture_default_str();
  command->add_option("--rounds", options->rounds, "alternations of the two sides")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  command->add_flag("--plugin-only", options->pluginOnly, "skip the raw libcurl side");
  command->add_option("--plugin", options->plugin, "plugin library to load")->capture_default_str();
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
