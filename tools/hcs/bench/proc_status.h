#pragma once

namespace hcs::bench {

// Resident set size of this process in KiB (VmRSS of /proc/self/status), 0 where /proc does not tell.
long residentKiB();

}  // namespace hcs::bench
