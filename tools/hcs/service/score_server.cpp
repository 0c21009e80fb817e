#include "service/score_server.h"

#include <atomic>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "service/score_document.h"

namespace hcs::service {

struct ScoreServer::State {
  std::unique_ptr<httplib::Server> server;
  std::atomic<std::size_t> answered{0};
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> runEntered{false};
  std::atomic<bool> runDone{false};
};

ScoreServer::ScoreServer() : ScoreServer(Options{}) {}

namespace {

std::unique_ptr<httplib::Server> makeServer(const std::optional<ServerTls>& tls) {
  if (!tls) return std::make_unique<httplib::Server>();
  std::string problem;
  auto server = std::make_unique<httplib::SSLServer>(
      [&](SSL_CTX& context) { return (problem = setUpServerContext(context, *tls)).empty(); });
  if (!server->is_valid()) throw std::runtime_error(problem.empty() ? "cannot set up TLS" : problem);
  return server;
}

}  // namespace

ScoreServer::ScoreServer(const Options& options) : state_(std::make_unique<State>()) {
  state_->server = makeServer(options.tls);
  httplib::Server& server = *state_->server;
  const std::size_t threads = options.threads == 0 ? 1 : options.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  // Small request and reply on a kept-open connection: Nagle's delay would dominate every exchange.
  server.set_tcp_nodelay(true);
  // The client keeps its connections for many requests; the library's default would close after five.
  server.set_keep_alive_max_count(options.requestsPerConnection == 0 ? 100000000
                                                                     : options.requestsPerConnection);
  server.set_keep_alive_timeout(options.keepAliveSeconds);
  server.set_payload_max_length(options.maxBodyBytes);
  State* state = state_.get();
  server.Post(R"(/.*)", [state](const httplib::Request& request, httplib::Response& response) {
    ServiceAnswer answer = answerScoreRequest(request.body);
    response.status = answer.status;
    response.set_content(std::move(answer.body), "text/xml; charset=UTF-8");
    state->answered.fetch_add(1, std::memory_order_relaxed);
  });
  const auto notAllowed = [](const httplib::Request&, httplib::Response& response) {
    response.status = 405;
    response.set_header("Allow", "POST");
    response.set_content(errorReply("only POST is served"), "text/xml; charset=UTF-8");
  };
  server.Get(R"(/.*)", notAllowed);
  server.Put(R"(/.*)", notAllowed);
  server.Delete(R"(/.*)", notAllowed);
}

ScoreServer::~ScoreServer() { stop(); }

int ScoreServer::bind(const std::string& host, int port) {
  if (port == 0) return state_->server->bind_to_any_port(host);
  return state_->server->bind_to_port(host, port) ? port : -1;
}

namespace {

// The library ignores stop() until its loop has started, so a stop that races the start waits for it.
void stopWhenRunning(httplib::Server& server, const std::atomic<bool>& runDone) {
  for (int i = 0; i < 5000 && !server.is_running() && !runDone; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  server.stop();
}

}  // namespace

bool ScoreServer::run() {
  state_->runEntered = true;
  if (state_->stopRequested) {
    // Stopped before serving: start and stop at once, which also closes the listening socket.
    std::thread closer([this] { stopWhenRunning(*state_->server, state_->runDone); });
    state_->server->listen_after_bind();
    state_->runDone = true;
    closer.join();
    return true;
  }
  const bool ok = state_->server->listen_after_bind();
  state_->runDone = true;
  return ok;
}

void ScoreServer::stop() {
  state_->stopRequested = true;
  if (state_->runEntered) {
    stopWhenRunning(*state_->server, state_->runDone);
  } else {
    state_->server->stop();
  }
}

std::size_t ScoreServer::answered() const { return state_->answered.load(std::memory_order_relaxed); }

}  // namespace hcs::service
