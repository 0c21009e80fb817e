#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace hcs {

// std::fopen with `mode`, except that the file is never inherited by processes the host starts
// (close-on-exec from the moment it opens on POSIX, not inheritable on Windows). nullptr on failure.
std::FILE* openPrivateFile(const std::string& path, const char* mode);

// Opens `path` for reading (text mode) when it names a regular file of at most `maxBytes` bytes, and
// returns nullptr for anything else: a missing or unreadable name, a directory, a device, a FIFO, a
// socket, a larger file. Never blocks on what the name refers to, and reads never wait for data
// (a file that would make them wait reads as an error). Private as with openPrivateFile.
std::FILE* openRegularFile(const std::string& path, uint64_t maxBytes);

// Whether users other than the file's owner (its group, or everyone) may read `path`; false when it
// cannot be told. Windows files are guarded by their access lists instead: always false there.
bool readableByOthers(const std::string& path);

}  // namespace hcs
