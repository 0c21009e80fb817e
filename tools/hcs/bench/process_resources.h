#pragma once

namespace hcs::bench {

// Resident set size of this process in KiB (VmRSS of /proc/self/status), 0 where /proc does not tell.
long residentKiB();

// Raises this process's soft limit on open descriptors to its hard limit: a benchmark holds a
// connection per thread and side, and the plugin's pool more.
void raiseDescriptorLimit();

}  // namespace hcs::bench
