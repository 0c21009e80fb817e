#include "config/ini_store.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "config/settings.h"
#include "error/qrm_exception.h"
#include "util/file_platform.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

// Lines longer than this are read in pieces of kLineBuffer - 1 bytes.
constexpr int kLineBuffer = 1500;

std::string defaultConfigFileName() {
  icu::UnicodeString name;
  theSettings.getConfigFileName(name);
  return toStdString(name);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

QRM_Exception fileError(const char16_t* code, const char16_t* templ, const std::string& fileName) {
  return QRM_Exception("", QRM_Message(code, templ, UCString(fileName)), 0, kSeverityCritical);
}

bool writeText(std::FILE* file, const icu::UnicodeString& text) {
  const std::string bytes = toStdString(text);
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

CCMEParameterINIStore::CCMEParameterINIStore(const char* fileName, const icu::UnicodeString& appName,
                                             const CCMEParameterDef* table, uint16_t rowCount)
    : CCMEParameterStore(false), fileName_(fileName != nullptr ? fileName : defaultConfigFileName()) {
  setup(appName, table, rowCount);
}

CCMEParameterINIStore::~CCMEParameterINIStore() = default;

void CCMEParameterINIStore::load() {
  static constexpr char16_t kReadFailed[] = u"Failed to open ini file for reading [{0}]";
  // Only a regular file of bounded size: a directory, a FIFO or /dev/zero would otherwise spin or block.
  FilePtr file(openRegularFile(fileName_, kMaxFileBytes));
  if (!file) throw fileError(u"9113E", kReadFailed, fileName_);
  icu::UnicodeString section;
  char buffer[kLineBuffer];
  while (std::fgets(buffer, kLineBuffer, file.get()) != nullptr) {
    // A file that grows while it is read stays within the bound as well.
    if (std::ftell(file.get()) > static_cast<long>(kMaxFileBytes))
      throw fileError(u"9113E", kReadFailed, fileName_);
    readLine(UCString(buffer, static_cast<int32_t>(std::strlen(buffer))), section);
  }
  // A name that opens but cannot be read (an I/O error) is as unusable as a missing file.
  if (std::ferror(file.get())) throw fileError(u"9113E", kReadFailed, fileName_);
}

void CCMEParameterINIStore::readLine(const icu::UnicodeString& rawLine, icu::UnicodeString& section) {
  icu::UnicodeString line(rawLine);
  line.trim();
  if (line.isEmpty() || line[0] == u'#') return;
  if (line[0] == u'[') {
    // Whatever the last character is, it is taken as the closing bracket.
    section = line.length() > 2 ? icu::UnicodeString(line, 1, line.length() - 2) : icu::UnicodeString();
    return;
  }
  const int32_t equals = line.indexOf(u'=');
  if (equals < 0) return;
  icu::UnicodeString name(line, 0, equals);
  icu::UnicodeString value(line, equals + 1);
  setValue(section, name.trim(), value.trim(), true);
}

void CCMEParameterINIStore::save() {
  static constexpr char16_t kWriteFailed[] = u"Failed to open ini file for writing [{0}]";
  FilePtr file(openPrivateFile(fileName_, "w+"));
  if (!file) throw fileError(u"9112E", kWriteFailed, fileName_);
  bool ok = true;
  icu::UnicodeString lastSection;
  for (const auto& [key, record] : records()) {
    const int32_t colon = key.indexOf(u':');
    const icu::UnicodeString section = colon < 0 ? icu::UnicodeString() : icu::UnicodeString(key, 0, colon);
    const icu::UnicodeString name = colon < 0 ? key : icu::UnicodeString(key, colon + 1);
    if (section != lastSection) {
      ok = ok && writeText(file.get(), icu::UnicodeString(u"[").append(section).append(u"]\n"));
      lastSection = section;
    }
    ok = ok &&
         writeText(file.get(), icu::UnicodeString(name).append(u'=').append(record.value()).append(u'\n'));
  }
  // A full disk shows only when the buffered text is flushed.
  if (std::fclose(file.release()) != 0) ok = false;
  if (!ok) throw fileError(u"9112E", kWriteFailed, fileName_);
}

}  // namespace hcs
