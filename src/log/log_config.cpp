#include "log/log_config.h"

#include <chrono>
#include <cstdlib>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <new>
#include <string>

#include "error/qrm_exception.h"
#include "log/console_writer.h"
#include "log/event_writer.h"
#include "log/file_writer.h"
#include "log/log_platform.h"
#include "util/numbers.h"
#include "util/ucstring.h"

namespace hcs {

namespace {

constexpr std::string_view kDefaultFilter = "*.!DBUG";

[[noreturn]] void malformed(std::string_view destination, std::string_view what) {
  std::string message = "log destination \"";
  message.append(destination).append("\": ").append(what);
  throw QRM_Exception("", UCString(message), 1, kSeverityMajor);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Refuses parameters the writer would silently ignore: a misspelt "keeps" would otherwise keep every
// copy forever.
void checkParameterNames(const CUri& uri, std::initializer_list<std::u16string_view> known,
                         std::string_view destination) {
  for (const auto& [name, value] : uri.params) {
    bool found = false;
    for (auto k : known)
      found = found || name == icu::UnicodeString(k.data(), static_cast<int32_t>(k.size()));
    if (!found) malformed(destination, "unknown parameter \"" + toStdString(name) + "\"");
  }
}

// The writer reads numbers leniently ("1M" would be 1 KiB); here only plain decimals in range pass.
void checkNumber(const CUri& uri, const char16_t* name, int64_t max, std::string_view destination) {
  icu::UnicodeString value;
  if (!uri.findParam(name, value)) return;
  if (!readStrict(value, {.high = max, .maxDigits = 10})) {
    malformed(destination, toStdString(icu::UnicodeString(name)) + " must be a whole number from 0 to " +
                               std::to_string(max) + ", not \"" + toStdString(value) + "\"");
  }
}

CLogWriterFactory& factoryFor(const CUri& uri, std::string_view destination) {
  icu::UnicodeString scheme(uri.scheme);
  scheme.foldCase();
  // A '?' right after the host belongs to the host name, so such parameters would vanish unnoticed.
  if (uri.host.indexOf(u'?') >= 0) {
    malformed(destination, "parameters follow a '/' after the host, as in console://stdout/?style=bare");
  }
  if (scheme == u"console") {
    if (uri.host != u"stdout" && uri.host != u"stderr" && !uri.host.isEmpty()) {
      malformed(destination, "the console is console://stdout or console://stderr");
    }
    checkParameterNames(uri, {u"style"}, destination);
    return consoleWriterFactory();
  }
  if (scheme == u"file") {
    const icu::UnicodeString name = localFileName(uri.host + uri.path);
    if (name.isEmpty() || name.endsWith(u"/") || name.endsWith(u"\\")) {
      malformed(destination, "names no file (file:///absolute/name.log or file://./relative/name.log)");
    }
    checkParameterNames(uri, {u"style", u"rotateSize", u"rotateAge", u"keep"}, destination);
    // Bounded so that the sizes in bytes and seconds fit the writer's 32-bit fields.
    checkNumber(uri, u"rotateSize", INT32_MAX / 1024, destination);
    checkNumber(uri, u"rotateAge", INT32_MAX / 3600, destination);
    checkNumber(uri, u"keep", INT32_MAX, destination);
    return fileWriterFactory();
  }
  if (scheme == u"eventlog") {
    checkParameterNames(uri, {}, destination);
    return eventWriterFactory();
  }
  malformed(destination, "unknown writer (console://, file:// or eventlog://)");
}

struct InstalledLog {
  std::unique_ptr<CWriterDispatcher> dispatcher;

  ~InstalledLog() {
    if (!dispatcher) return;
    // Leave a dispatcher someone else installed in place; ours must be gone before its writers close.
    CLogDispatcher* current = setLogDispatcher(nullptr);
    if (current != dispatcher.get()) setLogDispatcher(current);
  }
};

}  // namespace

CWriterDispatcher::~CWriterDispatcher() {
  for (auto& d : destinations_) d->writer->close();
}

void CWriterDispatcher::add(const CUri& uri, CLogFilter filter, std::unique_ptr<CLogWriter> writer) {
  destinations_.push_back(std::make_unique<Destination>(uri, std::move(filter), std::move(writer)));
}

void CWriterDispatcher::dispatch(const CLogMessage& message) {
  icu::UnicodeString leading;
  icu::UnicodeString levelName;
  bool prepared = false;
  for (auto& d : destinations_) {
    if (!d->filter.takes(message.module(), message.level())) continue;
    if (!prepared) {
      leading = logLeadingField(message.stamp());
      levelName = icu::UnicodeString(logLevelName(message.level()), -1, US_INV);
      prepared = true;
    }
    std::string failure;
    try {
      d->writer->write(leading, message.module(), levelName, message.lines());
      if (d->failing.load(std::memory_order_relaxed)) d->failing.store(false, std::memory_order_relaxed);
      continue;
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "unknown failure";
    }
    // Logging must never break the code that logs; say it once per run of failures.
    if (!d->failing.exchange(true, std::memory_order_relaxed) && errors_ != nullptr) {
      std::fprintf(errors_, "httpCalloutScoring: log destination \"%s\" failed: %s\n",
                   toStdString(maskedUri(d->uri.text)).c_str(), failure.c_str());
      std::fflush(errors_);
    }
  }
}

std::unique_ptr<CWriterDispatcher> buildLogDispatcher(std::string_view config, std::FILE* errors) {
  auto dispatcher = std::make_unique<CWriterDispatcher>(errors);
  size_t start = 0;
  while (start <= config.size()) {
    size_t end = config.find(';', start);
    if (end == std::string_view::npos) end = config.size();
    const std::string_view destination = trim(config.substr(start, end - start));
    start = end + 1;
    if (destination.empty()) continue;

    size_t blank = 0;
    while (blank < destination.size() && !isBlank(destination[blank])) ++blank;
    const std::string_view uriText = destination.substr(0, blank);
    std::string_view filterText = trim(destination.substr(blank));
    if (filterText.empty()) filterText = kDefaultFilter;
    for (char c : filterText) {
      if (isBlank(c)) malformed(destination, "a destination is a URI, a blank and one filter");
    }

    const CUri uri{UCString(uriText)};
    CLogWriterFactory& factory = factoryFor(uri, destination);
    CLogFilter filter;
    try {
      filter = CLogFilter::parse(filterText);
    } catch (const QRM_Exception& e) {
      malformed(destination, e.what());
    }
    std::unique_ptr<CLogWriter> writer(factory.create());
    if (!writer) throw std::bad_alloc();
    writer->init(uri);
    dispatcher->add(uri, std::move(filter), std::move(writer));
  }
  if (dispatcher->destinations().empty()) malformed(config, "names no destination");
  return dispatcher;
}

icu::UnicodeString logLeadingField(CLogMessage::Clock::time_point stamp) {
  using namespace std::chrono;
  const auto since = stamp.time_since_epoch();
  const auto whole = floor<seconds>(since);
  const auto millis = duration_cast<milliseconds>(since - whole).count();
  std::tm tm{};
  if (!localTime(static_cast<std::time_t>(whole.count()), tm)) tm = std::tm{};
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d %llu", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(millis),
                static_cast<unsigned long long>(currentThreadId()));
  return icu::UnicodeString(text, -1, US_INV);
}

std::unique_ptr<CWriterDispatcher> dispatcherFromEnvironmentValue(const char* value, std::FILE* errors) {
  if (value == nullptr || trim(value).empty()) return nullptr;
  try {
    return buildLogDispatcher(value, errors);
  } catch (const std::exception& e) {
    if (errors != nullptr) {
      std::fprintf(errors, "httpCalloutScoring: %s is ignored and logging stays off: %s\n",
                   kLogEnvironmentVariable, e.what());
      std::fflush(errors);
    }
  }
  return nullptr;
}

void installLogFromEnvironment() {
  static std::once_flag once;
  try {
    std::call_once(once, [] {
      auto dispatcher = dispatcherFromEnvironmentValue(std::getenv(kLogEnvironmentVariable), stderr);
      if (!dispatcher) return;
      // Built on first use, so it is destroyed before whatever was built earlier at load, and the
      // dispatcher is uninstalled before its writers close.
      static InstalledLog installed;
      installed.dispatcher = std::move(dispatcher);
      setLogDispatcher(installed.dispatcher.get());
    });
  } catch (...) {
    // Out of memory while loading: the host still loads, without logging.
  }
}

}  // namespace hcs
