#include "commands/local_service.h"

#include <stdexcept>

namespace hcs::tool {

namespace {
// The plugin keeps its connections open until it is unloaded; a short idle limit lets the service
// stop promptly when hcs is done, while busy connections stay open.
service::ScoreServer::Options localOptions() {
  service::ScoreServer::Options options;
  options.keepAliveSeconds = 1;
  return options;
}
}  // namespace

LocalService::LocalService() : server_(localOptions()) {
  const int port = server_.bind("127.0.0.1", 0);
  if (port < 0) throw std::runtime_error("cannot start the reference service on 127.0.0.1");
  url_ = "http://127.0.0.1:" + std::to_string(port) + "/score";
  thread_ = std::thread([this] { server_.run(); });
}

LocalService::~LocalService() {
  server_.stop();
  thread_.join();
}

}  // namespace hcs::tool
