#pragma once

#include <cstdint>
#include <string>

#include "config/parameter_store.h"

namespace hcs {

// A parameter store backed by an .ini file: "[SECTION]" headers, "name = value" lines, "#" comments.
// Lines are read 1499 bytes at a time, so a longer line counts as several. Names and sections match
// without regard to case; a parameter written twice keeps its last value. Text is in the local code
// page. Malformed lines are ignored, never errors.
class CCMEParameterINIStore : public CCMEParameterStore {
 public:
  // `fileName` null: the process's default .ini name. Runs setup, so with a non-empty `appName` the
  // file is read here and a missing file throws "9113E" from the constructor.
  CCMEParameterINIStore(const char* fileName, const icu::UnicodeString& appName,
                        const CCMEParameterDef* table, uint16_t rowCount);
  ~CCMEParameterINIStore() override;

  // Files larger than this are not read.
  static constexpr uint64_t kMaxFileBytes = 16u << 20;

  // Throws the "9113E" QRM_Exception (severity 4) naming the file when it cannot be opened for reading,
  // or is no regular file (a directory, a device, a FIFO), or holds more than kMaxFileBytes, or a read
  // fails. Never blocks on what the name refers to.
  void load() override;
  // Replaces the file by one "[SECTION]" header per section and "NAME=value" lines in key order.
  // Comments and line order are not kept. Throws the "9112E" QRM_Exception (severity 4) naming the file
  // when it cannot be opened for writing, or when writing it fails.
  void save() override;

  const std::string& fileName() const { return fileName_; }

 private:
  void readLine(const icu::UnicodeString& rawLine, icu::UnicodeString& section);

  std::string fileName_;
};

}  // namespace hcs
