#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

#include "log/log_filter.h"
#include "log/log_message.h"
#include "log/log_writer.h"
#include "util/uri.h"

namespace hcs {

// The environment variable that switches logging on without code.
inline constexpr char kLogEnvironmentVariable[] = "HTTPCALLOUT_LOG";

// A dispatcher over log writers: each message goes, as one `write` with all its lines, to every
// destination whose filter takes it. The leading field of every line is the message's local time with
// milliseconds and the id of the thread that dispatches it: "2026-12-05 18:12:54.123 48213".
//
// A writer that throws never lets the failure reach the code that logged: the first failure of a
// destination after a success (or at the start) is reported on stderr, later ones are dropped until the
// destination writes again.
//
// Thread-safety: `dispatch` from any thread, concurrently, also re-entered by a writer reporting its own
// failure; how each writer serialises is its own business. Destinations are fixed once built. The
// destructor closes every writer; the dispatcher must be uninstalled before.
class CWriterDispatcher : public CLogDispatcher {
 public:
  struct Destination {
    Destination(const CUri& u, CLogFilter f, std::unique_ptr<CLogWriter> w)
        : uri(u), filter(std::move(f)), writer(std::move(w)) {}

    CUri uri;
    CLogFilter filter;
    std::unique_ptr<CLogWriter> writer;
    std::atomic<bool> failing{false};
  };

  // `errors`: where writer failures are reported (not owned; stderr in production).
  explicit CWriterDispatcher(std::FILE* errors = stderr) : errors_(errors) {}
  ~CWriterDispatcher() override;

  void dispatch(const CLogMessage& message) override;

  // Takes ownership of an initialised writer.
  void add(const CUri& uri, CLogFilter filter, std::unique_ptr<CLogWriter> writer);
  const std::vector<std::unique_ptr<Destination>>& destinations() const { return destinations_; }

 private:
  std::vector<std::unique_ptr<Destination>> destinations_;
  std::FILE* errors_;
};

// Builds a dispatcher from a destination list:
//   list        = destination *(";" destination)      empty destinations are skipped
//   destination = uri [blanks filter]                  no filter: "*.!DBUG"
// with the writer chosen by the URI's scheme (any letter case):
//   console://stdout, console://stderr   the console writer; parameter style=bare
//   (console://stderr/?style=bare) file:///abs/name.log, file://./rel.log   the file writer; style=bare,
//   rotateSize (KiB),
//                                        rotateAge (hours), keep (copies)
//   eventlog://                          the event writer (syslog on POSIX systems)
// and the filter of CLogFilter. Because ";" separates destinations, query parameters are joined
// with "&". Parameters the writer does not know, and numbers that are not plain non-negative decimals,
// are refused rather than guessed at.
//
// Throws the "0000E" QRM_Exception naming the first fault; nothing is opened before the first message.
std::unique_ptr<CWriterDispatcher> buildLogDispatcher(std::string_view config, std::FILE* errors = stderr);

// The leading field of a message's lines: local time with milliseconds and the calling thread's id.
icu::UnicodeString logLeadingField(CLogMessage::Clock::time_point stamp);

// What the environment value asks for: nullptr when it is unset (a null pointer) or blank; nullptr and
// one line on `errors` when it is malformed; otherwise the dispatcher, not yet installed.
std::unique_ptr<CWriterDispatcher> dispatcherFromEnvironmentValue(const char* value, std::FILE* errors);

// Reads HTTPCALLOUT_LOG and, when it names destinations, installs a dispatcher over them for the rest
// of the process (at unload it is uninstalled and its writers closed). Only the first call does
// anything. Never throws and never fails the caller: a malformed value is reported once on stderr and
// logging stays off. Meant to be called once while the library loads.
void installLogFromEnvironment();

}  // namespace hcs
