#include "log/file_writer.h"

#include <chrono>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "error/qrm_exception.h"
#include "log/log_message.h"
#include "log/log_platform.h"
#include "util/file_platform.h"
#include "util/numbers.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {

namespace {

constexpr int64_t kCheckIntervalMillis = 60000;

class CSystemLogClock : public CLogClock {
 public:
  constexpr CSystemLogClock() = default;
  int64_t currentMillis() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  }
};

constinit CSystemLogClock gSystemLogClock;
constinit CFileWriterFactory gFileWriterFactory;

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec) && !ec;
}

// Deletes and renames report nothing: a rotation that half fails must not stop logging.
void removeQuietly(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

void renameQuietly(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
}

std::string copyName(const std::string& path, uint32_t index) { return path + "." + std::to_string(index); }

}  // namespace

CLogClock::~CLogClock() = default;

CLogClock& systemLogClock() { return gSystemLogClock; }

CFileWriter::CFileWriter(CLogClock& clock) : clock_(clock) {}

CFileWriter::~CFileWriter() {
  // Owners are meant to call close; a forgotten one must not leak the descriptor.
  if (file_ != nullptr) std::fclose(file_);
}

void CFileWriter::init(const CUri& destination) {
  close();
  bare_ = false;
  keep_ = UINT32_MAX;
  rotationSize_ = 0;
  rotationAge_ = 0;
  lastCheck_ = 0;
  fileName_ = localFileName(destination.host + destination.path);
  path_ = toStdString(fileName_);
  bare_ = bareStyle(destination);
  icu::UnicodeString value;
  // 32-bit arithmetic on purpose: the sizes wrap exactly as the configured numbers did before.
  if (destination.findParam(u"rotateSize", value)) {
    rotationSize_ = static_cast<int32_t>(static_cast<uint32_t>(parseInt(value)) * 1024u);
  }
  if (destination.findParam(u"rotateAge", value)) {
    rotationAge_ = static_cast<int32_t>(static_cast<uint32_t>(parseInt(value)) * 3600u);
  }
  if (destination.findParam(u"keep", value)) keep_ = static_cast<uint32_t>(parseInt(value));
  checkEnabled_ = rotationSize_ != 0 || rotationAge_ != 0;
}

void CFileWriter::write(const icu::UnicodeString& leading, const icu::UnicodeString& module,
                        const icu::UnicodeString& levelName, const std::vector<icu::UnicodeString>& lines) {
  // Our own failure reports go to the other writers only.
  if (module == u"filewriter") return;
  std::lock_guard lock(lock_);
  if (file_ == nullptr) {
    file_ = openPrivateFile(path_, "a+");
    if (file_ == nullptr) {
      throw QRMLog_Exception(QRM_Message(u"    E", u"Failed to open log file: {0}", fileName_));
    }
  }
  if (!printLogLines(file_, bare_, leading, module, levelName, lines)) throwWriteFailure();
  if (std::fflush(file_) != 0) throwWriteFailure();
  if (checkEnabled_) checkRotation();
}

void CFileWriter::close() {
  std::lock_guard lock(lock_);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

void CFileWriter::throwWriteFailure() {
  // The lock is held; the report cannot come back here because of its module.
  logLine("filewriter", kLogCritical, u"Failed to write to log file: %S", fileName_);
  throw QRMLog_Exception(QRM_Message(u"    E", u"Failed to write to log file: {0}", fileName_));
}

void CFileWriter::checkRotation() {
  const int64_t now = clock_.currentMillis();
  const int64_t elapsed = now - lastCheck_;
  if (elapsed < 0 || elapsed <= kCheckIntervalMillis) return;
  lastCheck_ = now;
  if (rotationSize_ == 0) return;
  std::error_code ec;
  const auto size = std::filesystem::file_size(path_, ec);
  if (ec || static_cast<int64_t>(size) <= rotationSize_) return;
  std::fclose(file_);
  file_ = nullptr;
  rotate();
}

void CFileWriter::rotate() {
  if (keep_ == 0) {
    removeQuietly(path_);
    return;
  }
  uint32_t n = 0;
  while (n != UINT32_MAX && fileExists(copyName(path_, n))) ++n;
  if (keep_ != UINT32_MAX && n > keep_ - 1) n = keep_ - 1;
  removeQuietly(copyName(path_, n));
  for (uint32_t i = n; i >= 1; --i) renameQuietly(copyName(path_, i - 1), copyName(path_, i));
  renameQuietly(path_, copyName(path_, 0));
}

CLogWriter* CFileWriterFactory::create() { return new (std::nothrow) CFileWriter(); }

CFileWriterFactory& fileWriterFactory() { return gFileWriterFactory; }

}  // namespace hcs
