#pragma once

#include <string>

#include "host/temp_directory.h"

namespace hcs::bench {

// A CA and a server certificate it signed for 127.0.0.1 (P-256 keys, valid for a day), made with the
// openssl tool in a temporary folder that is removed with this object: for a benchmark's own TLS
// service, trusted by nothing beyond the run.
class ThrowawayPki {
 public:
  // Throws std::runtime_error, naming the step, when the openssl tool is missing or fails.
  ThrowawayPki();

  std::string ca() const { return dir_.file("ca.pem"); }
  std::string certificate() const { return dir_.file("server.pem"); }
  std::string key() const { return dir_.file("server.key"); }

 private:
  host::TempDirectory dir_;
};

}  // namespace hcs::bench
