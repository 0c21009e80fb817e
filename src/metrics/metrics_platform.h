#pragma once

#include <string>
#include <string_view>

namespace hcs {

enum class NewFileResult { kWritten, kExists, kFailed };

// Creates the file `path`, which must not exist yet, with `text` in it, flushed to the disk before it
// returns. Anything already at `path`, a symbolic link included, is left alone and gives kExists: a
// name planted in a shared folder can neither redirect the write nor receive it. The file is readable
// by all (0644, less what the umask takes) and never inherited by processes the host starts. On
// kFailed `failure` says why and nothing is left at `path`.
NewFileResult writeNewFile(const std::string& path, std::string_view text, std::string& failure);

}  // namespace hcs
