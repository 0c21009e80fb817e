#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <thread>

#include <pthread.h>
#include <signal.h>

#include "bench/process_resources.h"
#include "commands/commands.h"
#include "service/echo_server.h"
#include "service/score_server.h"

namespace hcs::tool {
namespace {

struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::size_t threads = 64;
  int keepAlive = 10;
  std::size_t requestsPerConnection = 0;
  bool echo = false;
  std::string tlsCert, tlsKey, clientCa;
  bool noResumption = false;
};

// Blocks SIGINT and SIGTERM in this thread and every thread started from here on, so they reach the
// one thread that waits for them and stopping never runs inside a signal handler.
sigset_t blockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

int serveEcho(const ServeOptions& options) {
  if (options.host != "127.0.0.1") {
    std::fprintf(stderr, "hcs serve: --echo listens on 127.0.0.1 only\n");
    return 1;
  }
  // A benchmark may open many connections.
  bench::raiseDescriptorLimit();
  sigset_t signals = blockStopSignals();
  try {
    service::EchoServer server(options.port);
    server.start();
    std::printf("listening on http://127.0.0.1:%d/score\n", server.port());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    server.stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hcs serve: %s\n", e.what());
    return 1;
  }
  return 0;
}

int serve(const ServeOptions& options) {
  if (options.echo) return serveEcho(options);
  sigset_t signals = blockStopSignals();

  service::ScoreServer::Options serverOptions;
  serverOptions.threads = options.threads;
  serverOptions.keepAliveSeconds = options.keepAlive;
  serverOptions.requestsPerConnection = options.requestsPerConnection;
  if (!options.tlsCert.empty() || !options.tlsKey.empty()) {
    serverOptions.tls =
        service::ServerTls{options.tlsCert, options.tlsKey, options.clientCa, !options.noResumption};
    // A client that hangs up while a reply is written must cost that connection, not the process: TLS
    // writes go through OpenSSL, which cannot ask the kernel to spare it the signal.
    ::signal(SIGPIPE, SIG_IGN);
  }
  std::optional<service::ScoreServer> server;
  try {
    server.emplace(serverOptions);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hcs serve: %s\n", e.what());
    return 1;
  }
  const int port = server->bind(options.host, options.port);
  if (port < 0) {
    std::fprintf(stderr, "hcs serve: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    return 1;
  }
  std::printf("listening on %s://%s:%d/score\n", serverOptions.tls ? "https" : "http", options.host.c_str(),
              port);
  std::fflush(stdout);

  std::thread waiter([&server, &signals] {
    int signal = 0;
    sigwait(&signals, &signal);
    server->stop();
  });
  const bool ok = server->run();
  // The waiter may still be waiting when the server ended by itself.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  std::printf("stopped after %zu requests\n", server->answered());
  return ok ? 0 : 1;
}

}  // namespace

void addServeCommand(CLI::App& app, int& status) {
  auto options = std::make_shared<ServeOptions>();
  CLI::App* command =
      app.add_subcommand("serve", "run the reference scoring service (Jaro-Winkler of ATTR1 and ATTR2)");
  command->add_option("--host", options->host, "address to listen on")->capture_default_str();
  command->add_option("--port", options->port, "port to listen on; 0 picks a free one")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  CLI::Option* threads =
      command->add_option("--threads", options->threads, "worker threads; each open connection holds one")
          ->check(CLI::Range(1, 4096))
          ->capture_default_str();
  CLI::Option* keepAlive =
      command->add_option("--keep-alive", options->keepAlive, "seconds an idle connection stays open")
          ->check(CLI::Range(1, 3600))
          ->capture_default_str();
  CLI::Option* requests =
      command
          ->add_option("--requests-per-connection", options->requestsPerConnection,
                       "requests a connection serves before the service closes it; 0: no limit, 1: a new "
                       "connection for every request")
          ->check(CLI::Range(std::size_t{0}, std::size_t{100000000}))
          ->capture_default_str();
  CLI::Option* cert = command->add_option("--tls-cert", options->tlsCert,
                                          "serve HTTPS (TLS 1.2 or later) with this PEM certificate chain");
  CLI::Option* key = command->add_option("--tls-key", options->tlsKey, "the PEM private key of --tls-cert");
  CLI::Option* clientCa = command->add_option("--client-ca", options->clientCa,
                                              "require a client certificate signed by a CA of this PEM file");
  CLI::Option* noResumption = command->add_flag(
      "--no-tls-resumption", options->noResumption,
      "never resume a TLS session: every new connection makes a full handshake (to measure what "
      "resumption saves)");
  cert->needs(key);
  key->needs(cert);
  clientCa->needs(cert);
  noResumption->needs(cert);
  // The echo service sizes itself, keeps connections until the client closes them and speaks plain
  // HTTP: it would ignore all of these, so it refuses them.
  CLI::Option* echo = command->add_flag(
      "--echo", options->echo,
      "answer every POST with a fixed score, at the least cost (127.0.0.1 only, plain HTTP; for hcs bench)");
  for (CLI::Option* ignored : {threads, keepAlive, requests, cert, key, clientCa, noResumption})
    echo->excludes(ignored);
  command->callback([options, &status] { status = serve(*options); });
}

}  // namespace hcs::tool
