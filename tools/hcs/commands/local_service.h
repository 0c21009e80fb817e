#pragma once

#include <memory>
#include <string>
#include <thread>

#include "service/score_server.h"

namespace hcs::tool {

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

// A temporary directory removed with its contents on destruction.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  // Writes `content` to `name` inside the directory and returns its path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

}  // namespace hcs::tool
