#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "service/server_tls.h"

namespace hcs::service {

// The reference scoring service over HTTP/1.1 with keep-alive: every POST, whatever its path, is read as
// an ATTRS_TO_SCORE document and answered by answerScoreRequest (text/xml); GET, PUT and DELETE get 405.
//
// Each open connection holds one worker thread while it lives, so `threads` bounds the number of
// clients served at once; later connections wait for a free worker.
//
// With `tls` it speaks HTTPS only (TLS 1.2 or later, see setUpServerContext).
class ScoreServer {
 public:
  struct Options {
    std::size_t threads = 64;
    int keepAliveSeconds = 10;
    std::size_t maxBodyBytes = 1 << 20;
    // Requests a connection serves before the service closes it (0: no limit). 1 makes every request
    // come on a new connection, as behind a service or balancer that does not keep connections.
    std::size_t requestsPerConnection = 0;
    std::optional<ServerTls> tls;
  };

  ScoreServer();
  // Throws std::runtime_error, naming the file and the reason, when `options.tls` cannot be set up.
  explicit ScoreServer(const Options& options);
  ~ScoreServer();
  ScoreServer(const ScoreServer&) = delete;
  ScoreServer& operator=(const ScoreServer&) = delete;

  // Binds `host`:`port` (0: an ephemeral port). Returns the port, or -1 when binding fails.
  int bind(const std::string& host, int port);
  // Serves until stop(); call after a successful bind, from the thread that should block.
  bool run();
  // Ends run(): closes the listening socket and waits for the workers. Safe from any thread.
  void stop();

  // Requests answered since construction (200 or 400).
  std::size_t answered() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace hcs::service
