#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "log/log_writer.h"
#include "util/fork_safety.h"

namespace hcs {

// The wall clock the file writer checks rotation against; replaceable so tests need not wait.
class CLogClock {
 public:
  virtual ~CLogClock();
  // Milliseconds since the epoch.
  virtual int64_t currentMillis() = 0;
};

// The real clock; lives for the whole process.
CLogClock& systemLogClock();

// Appends log lines to a text file and rotates it by size.
//
// Destination: the file name is host + path of the URI, '\' read as '/' on POSIX systems (file:///var/
// log/hcs.log, file://./logs/hcs.log). Parameters: "style=bare"; "rotateSize" in KiB; "rotateAge" in
// hours (read, and it turns the checks on, but no file is rotated by age); "keep", the number of rotated
// copies to keep (absent: all; 0: none).
//
// At most once a minute, after a write, the file's size is compared with "rotateSize"; when it is larger
// the file is renamed to name.0 (older copies move up by one, the oldest beyond "keep" is deleted) and
// the next write starts a new file. The file is opened lazily by `write` and closed by `close`, a
// rotation or, should the owner not have called `close`, the destructor.
//
// Thread-safety: `write` may be called from any thread; one lock per writer serialises whole writes,
// rotation included. Two writers on the same file do not coordinate.
//
// Failures: `write` throws a QRMLog_Exception "Failed to open log file: <name>" when the file cannot be
// opened (nothing stays open; the next write tries again), and, after logging the same text under the
// module "filewriter" at level CRIT, "Failed to write to log file: <name>" when a print or the flush
// fails. Messages of the module "filewriter" are never written, so that report cannot come back here.
// Failures while rotating are ignored.
class CFileWriter : public CLogWriter {
 public:
  // `clock` must outlive the writer.
  explicit CFileWriter(CLogClock& clock = systemLogClock());
  ~CFileWriter() override;

  void init(const CUri& destination) override;
  void write(const icu::UnicodeString& leading, const icu::UnicodeString& module,
             const icu::UnicodeString& levelName, const std::vector<icu::UnicodeString>& lines) override;
  void close() override;

  // Host + path of the destination, as the local file system reads it.
  const icu::UnicodeString& fileName() const { return fileName_; }
  // -1 (all bits set): keep every copy.
  uint32_t keep() const { return keep_; }
  int32_t rotationSize() const { return rotationSize_; }
  int32_t rotationAge() const { return rotationAge_; }

 private:
  [[noreturn]] void throwWriteFailure();
  void checkRotation();
  void rotate();

  std::mutex lock_;
  ForkLock forkLock_{lock_, ForkLockRank::kLogWriter};
  CLogClock& clock_;
  icu::UnicodeString fileName_;
  // The same in the local code page.
  std::string path_;
  std::FILE* file_ = nullptr;
  int64_t lastCheck_ = 0;
  bool checkEnabled_ = false;
  bool bare_ = false;
  uint32_t keep_ = UINT32_MAX;
  int32_t rotationSize_ = 0;
  int32_t rotationAge_ = 0;
};

class CFileWriterFactory : public CLogWriterFactory {
 public:
  constexpr CFileWriterFactory() = default;
  CLogWriter* create() override;
};

// The process-wide factory; usable before any static constructor of the library runs.
CFileWriterFactory& fileWriterFactory();

}  // namespace hcs
