#ifdef _WIN32

#include "metrics/metrics_platform.h"

#include <system_error>

#include <windows.h>

namespace hcs {

NewFileResult writeNewFile(const std::string& path, std::string_view text, std::string& failure) {
  // CREATE_NEW refuses any name that exists, a link included; without security attributes the handle
  // is not inherited.
  const HANDLE file =
      ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return NewFileResult::kExists;
    failure = std::system_category().message(static_cast<int>(error));
    return NewFileResult::kFailed;
  }
  const char* data = text.data();
  size_t left = text.size();
  DWORD error = 0;
  while (left > 0 && error == 0) {
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr)) {
      error = ::GetLastError();
    } else if (written == 0) {
      error = ERROR_WRITE_FAULT;
    } else {
      data += written;
      left -= written;
    }
  }
  if (error == 0 && !::FlushFileBuffers(file)) error = ::GetLastError();
  ::CloseHandle(file);
  if (error == 0) return NewFileResult::kWritten;
  ::DeleteFileA(path.c_str());
  failure = std::system_category().message(static_cast<int>(error));
  return NewFileResult::kFailed;
}

}  // namespace hcs

#endif  // _WIN32
