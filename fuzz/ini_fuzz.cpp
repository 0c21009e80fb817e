// The .ini reader on arbitrary file contents: every file loads (malformed lines are ignored), every
// record it yields can be looked up, and the store can be written back and read again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "config/ini_store.h"
#include "error/qrm_exception.h"

namespace {

// One file reused for every input, and one for the saved copy; both removed at exit.
struct TempFiles {
  TempFiles() {
    char pattern[] = "/tmp/hcs-fuzz-ini-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) std::abort();
    ::close(fd);
    input = pattern;
    saved = input + ".saved";
  }
  ~TempFiles() {
    std::remove(input.c_str());
    std::remove(saved.c_str());
  }
  std::string input;
  std::string saved;
};

TempFiles& files() {
  static TempFiles f;
  return f;
}

void writeFile(const std::string& name, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TempFiles& f = files();
  writeFile(f.input, data, size);
  try {
    hcs::CCMEParameterINIStore store(f.input.c_str(), u"", nullptr, 0);
    store.load();
    // Every parameter the file gave can be read back under the names it was filed with ("*" names
    // the application section instead, so such a group is looked up elsewhere).
    for (const auto& [key, record] : store.records()) {
      (void)key;
      if (record.group == u"*") continue;
      try {
        store.getParameter(record.group, record.name);
      } catch (const hcs::QRM_Exception&) {
        __builtin_trap();
      }
    }
    // Choosing the application section reads the file again and looks its name up.
    if (!store.records().empty()) {
      const icu::UnicodeString appName = store.records().begin()->second.group;
      if (!appName.isEmpty()) store.setup(appName, nullptr, 0);
    }

    hcs::CCMEParameterINIStore copy(f.saved.c_str(), u"", nullptr, 0);
    copy.copyFrom(store);
    copy.save();
    copy.load();
  } catch (const hcs::QRM_Exception&) {
    // "9107E" for a name the store does not know, "9112E"/"9113E" for file trouble: documented.
  }
  return 0;
}
