#include "bench/process_resources.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <string_view>

#include <sys/resource.h>

#include "util/numbers.h"

namespace hcs::bench {

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) != 0) continue;
    std::string_view kib = std::string_view(line).substr(6);  // "\t  123456 kB"
    kib.remove_prefix(std::min(kib.find_first_not_of(" \t"), kib.size()));
    return readStrict(kib.substr(0, kib.find(' ')), StrictRule{}).value;
  }
  return 0;
}

void raiseDescriptorLimit() {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
}

}  // namespace hcs::bench
