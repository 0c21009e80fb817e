#include "metrics/metrics_file.h"

#include <atomic>
#include <cinttypes>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "metrics/metrics_platform.h"
#include "util/fork_safety.h"
#include "util/numbers.h"
#include "util/random_source.h"
#include "util/uri.h"

namespace hcs {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Seconds from 1 to 86400, written as plain decimal digits.
std::chrono::seconds intervalFrom(std::string_view value) {
  const StrictNumber seconds = readStrict(value, {.low = 1, .high = 86400, .maxDigits = 5});
  if (!seconds) {
    throw std::invalid_argument("interval must be a whole number of seconds from 1 to 86400, not \"" +
                                std::string(value) + "\"");
  }
  return std::chrono::seconds(seconds.value);
}

}  // namespace

MetricsFileSetting parseMetricsSetting(std::string_view value) {
  while (!value.empty() && isBlank(value.front())) value.remove_prefix(1);
  while (!value.empty() && isBlank(value.back())) value.remove_suffix(1);
  static constexpr std::string_view kScheme = "file://";
  std::string scheme(value.substr(0, kScheme.size()));
  for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (scheme != kScheme) {
    throw std::invalid_argument("\"" + std::string(value) + "\" is no file URI (file:///absolute/hcs.prom)");
  }
  std::string_view rest = value.substr(kScheme.size());
  const size_t query = rest.find('?');
  MetricsFileSetting setting;
  setting.path = percentDecoded(rest.substr(0, query));
  if (setting.path.starts_with("./"))
    setting.path.erase(0, 2);
  else if (!setting.path.starts_with("/"))
    setting.path.clear();
  if (setting.path.empty() || setting.path.ends_with("/")) {
    throw std::invalid_argument("\"" + std::string(value) +
                                "\" names no file (file:///absolute/hcs.prom or file://./relative/hcs.prom)");
  }
  if (query == std::string_view::npos) return setting;
  std::string_view params = rest.substr(query + 1);
  while (!params.empty()) {
    const size_t amp = params.find('&');
    const std::string_view param = params.substr(0, amp);
    params = amp == std::string_view::npos ? std::string_view() : params.substr(amp + 1);
    if (param.empty()) continue;
    const size_t eq = param.find('=');
    const std::string name = percentDecoded(param.substr(0, eq));
    if (name != "interval") throw std::invalid_argument("unknown parameter \"" + name + "\"");
    setting.interval = intervalFrom(eq == std::string_view::npos ? "" : percentDecoded(param.substr(eq + 1)));
  }
  return setting;
}

struct MetricsFileWriter::Thread {
  std::mutex mutex;  // serialises writes, guards stop and failing
  std::condition_variable wake;
  bool stop = false;
  bool failing = false;
  std::thread thread;
  Thread* abandonedBefore = nullptr;  // see ~MetricsFileWriter
};

MetricsFileWriter::MetricsFileWriter(const MetricsRegistry& registry, MetricsFileSetting setting,
                                     std::FILE* errors)
    : registry_(registry),
      setting_(std::move(setting)),
      errors_(errors),
      generation_(forkGeneration()),
      thread_(std::make_unique<Thread>()) {
  thread_->thread = std::thread([this] { run(); });
}

MetricsFileWriter::~MetricsFileWriter() {
  if (forkGeneration() != generation_) {
    // A forked child: the thread is the parent's, so joining it would wait forever, and its mutex and
    // condition variable may be held or waited on by it. Left as they are until the child ends, and
    // kept reachable, so that a leak checker does not report what is left on purpose.
    static std::atomic<Thread*> abandoned{nullptr};
    Thread* left = thread_.release();
    left->abandonedBefore = abandoned.exchange(left);
    return;
  }
  {
    std::lock_guard lock(thread_->mutex);
    thread_->stop = true;
  }
  thread_->wake.notify_all();
  thread_->thread.join();
  writeNow();  // the counts up to the very end
}

void MetricsFileWriter::run() {
  std::unique_lock lock(thread_->mutex);
  while (!thread_->wake.wait_for(lock, setting_.interval, [this] { return thread_->stop; })) {
    lock.unlock();
    writeNow();
    lock.lock();
  }
}

bool MetricsFileWriter::writeNow() {
  // The file is the parent's: a child's counts (the parent's up to the fork, then its own) would
  // overwrite it with numbers that go back and forth.
  if (forkGeneration() != generation_) return false;
  const std::string text = registry_.exposition();
  std::lock_guard lock(thread_->mutex);
  std::string failure;
  std::string temporary;
  NewFileResult created = NewFileResult::kExists;
  // A name taken already is someone else's (64 random bits do not collide by chance): try another.
  for (int tries = 0; tries < 4 && created == NewFileResult::kExists; ++tries) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016" PRIx64 ".tmp", randomNumber());
    temporary = setting_.path + suffix;
    created = writeNewFile(temporary, text, failure);
  }
  if (created == NewFileResult::kWritten) {
    std::error_code renamed;
    std::filesystem::rename(temporary, setting_.path, renamed);
    if (renamed) {
      failure = renamed.message();
      std::remove(temporary.c_str());
    }
  } else if (created == NewFileResult::kExists) {
    failure = "every temporary name tried was taken";
  }
  if (failure.empty()) {
    thread_->failing = false;
    return true;
  }
  // Said once per run of failures, so a missing folder does not fill the host's stderr.
  if (!thread_->failing && errors_ != nullptr) {
    std::fprintf(errors_, "httpCalloutScoring: metrics file \"%s\" cannot be written: %s\n",
                 setting_.path.c_str(), failure.c_str());
    std::fflush(errors_);
  }
  thread_->failing = true;
  return false;
}

namespace {

struct InstalledMetrics {
  MetricsRegistry registry;
  std::unique_ptr<MetricsFileWriter> writer;

  ~InstalledMetrics() {
    // The last write, while every block is still there; in a forked child the writer does nothing and
    // the registry's lock is free (the forking thread held it across the fork).
    writer.reset();
    if (activeMetrics() == &registry) setActiveMetrics(nullptr);
  }
};

}  // namespace

void installMetricsFromEnvironment() {
  static std::once_flag once;
  try {
    std::call_once(once, [] {
      const char* value = std::getenv(kMetricsEnvironmentVariable);
      if (value == nullptr) return;
      std::string_view text(value);
      while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
      if (text.empty()) return;
      MetricsFileSetting setting;
      try {
        setting = parseMetricsSetting(text);
      } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "httpCalloutScoring: %s is ignored and no metrics are written: %s\n",
                     kMetricsEnvironmentVariable, e.what());
        std::fflush(stderr);
        return;
      }
      // Built here, at load, before any interface that counts into it: destroyed after all of them.
      static InstalledMetrics installed;
      installed.writer = std::make_unique<MetricsFileWriter>(installed.registry, std::move(setting));
      setActiveMetrics(&installed.registry);
    });
  } catch (...) {
    // Out of memory or no thread while loading: the host still loads, without metrics.
  }
}

}  // namespace hcs
