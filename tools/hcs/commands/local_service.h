#pragma once

#include <memory>
#include <string>
#include <thread>

#include "host/temp_directory.h"
#include "service/score_server.h"

namespace hcs::tool {

using host::TempDirectory;

// The reference service running on a thread of this process, on a free loopback port, until the
// object is destroyed.
class LocalService {
 public:
  // Throws std::runtime_error when no port can be bound.
  LocalService();
  ~LocalService();
  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;

  // "http://127.0.0.1:<port>/score"
  const std::string& url() const { return url_; }

 private:
  service::ScoreServer server_;
  std::string url_;
  std::thread thread_;
};

}  // namespace hcs::tool
