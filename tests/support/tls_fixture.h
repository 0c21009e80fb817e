#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace httplib {
class SSLServer;
}

namespace hcs::test {

// A throwaway PKI made with the openssl tool the first time it is asked for, in a folder of its own
// that goes with the process: a CA and certificates it signed for 127.0.0.1 (good, expired, for another
// host name, a client's), and one signed by a CA nobody trusts. No key is ever committed anywhere.
// Each key file is readable by its owner alone.
struct TestPki {
  std::string ca;      // the CA certificate to trust (caFile)
  std::string server;  // 127.0.0.1 and localhost, signed by the CA; `serverKey` its key
  std::string serverKey;
  std::string expired;  // the same name, expired yesterday; `expiredKey`
  std::string expiredKey;
  std::string wrongHost;  // wrong.example only; `wrongHostKey`
  std::string wrongHostKey;
  std::string stranger;  // 127.0.0.1, signed by another CA; `strangerKey`
  std::string strangerKey;
  std::string client;  // a client certificate signed by the CA; `clientKey`
  std::string clientKey;
  std::string serverPin;  // "sha256//…" of the server key's public half
  std::string otherPin;   // the same of the client key: a pin that never matches the server

  // Made once per process; throws std::runtime_error when the openssl tool fails.
  static const TestPki& get();
};

// The reference answer over TLS on 127.0.0.1: every POST gets 200 and a score. `clientCa` requires a
// client certificate that CA signed; `tls12Only` speaks no TLS 1.3.
class TlsTestServer {
 public:
  struct Options {
    std::string certificate;
    std::string key;
    std::string clientCa;
    bool tls12Only = false;
  };
  explicit TlsTestServer(const Options& options);
  ~TlsTestServer();
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  // "https://127.0.0.1:<port>" followed by `path`.
  std::string uri(const std::string& path) const;
  uint64_t requests() const { return requests_.load(); }
  // Handshakes that resumed an earlier session instead of exchanging keys anew.
  long resumedSessions() const;

 private:
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::thread thread_;
  std::atomic<uint64_t> requests_{0};
  void* context_ = nullptr;  // SSL_CTX*
};

}  // namespace hcs::test
