#include "support/tls_fixture.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <httplib.h>
#include <openssl/ssl.h>

namespace hcs::test {

namespace {

void run(const std::string& command) {
  if (std::system(("(" + command + ") >/dev/null 2>&1").c_str()) != 0) {
    throw std::runtime_error("test PKI: failed: " + command);
  }
}

// A P-256 key and a certificate for `subjectAltName`, signed by `ca` (its key next to it).
void issue(const TempDir& dir, const std::string& name, const std::string& ca, const std::string& altName,
           int days, const std::string& usage = "serverAuth") {
  const std::string key = dir.file(name + ".key");
  run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + key + " -out " +
      dir.file(name + ".csr") + " -subj /CN=" + name);
  const std::string extensions =
      dir.write(name + ".ext", "subjectAltName=" + altName + "\nextendedKeyUsage=" + usage + "\n");
  run("openssl x509 -req -in " + dir.file(name + ".csr") + " -CA " + dir.file(ca + ".pem") + " -CAkey " +
      dir.file(ca + ".key") + " -CAcreateserial -days " + std::to_string(days) + " -extfile " + extensions +
      " -out " + dir.file(name + ".pem"));
  std::filesystem::permissions(key, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

std::string pinOf(const TempDir& dir, const std::string& key) {
  const std::string out = dir.file(key + ".pin");
  run("openssl pkey -in " + dir.file(key + ".key") +
      " -pubout -outform der | openssl dgst -sha256 -binary | "
      "openssl enc -base64 -A > " +
      out);
  return "sha256//" + TempDir::read(out);
}

}  // namespace

const TestPki& TestPki::get() {
  static const TempDir* dir = new TempDir;  // goes with the process (TempDir's exit cleanup)
  static const TestPki pki = [] {
    const TempDir& d = *dir;
    for (const char* ca : {"ca", "other-ca"}) {
      run(std::string(
              "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=") +
          ca + " -keyout " + d.file(std::string(ca) + ".key") + " -out " + d.file(std::string(ca) + ".pem"));
    }
    issue(d, "server", "ca", "IP:127.0.0.1,DNS:localhost", 2);
    issue(d, "expired", "ca", "IP:127.0.0.1,DNS:localhost", -1);
    issue(d, "wrong-host", "ca", "DNS:wrong.example", 2);
    issue(d, "stranger", "other-ca", "IP:127.0.0.1,DNS:localhost", 2);
    issue(d, "client", "ca", "DNS:client.example", 2, "clientAuth");
    TestPki p;
    p.ca = d.file("ca.pem");
    for (auto [cert, key, name] : {std::tuple{&p.server, &p.serverKey, "server"},
                                   {&p.expired, &p.expiredKey, "expired"},
                                   {&p.wrongHost, &p.wrongHostKey, "wrong-host"},
                                   {&p.stranger, &p.strangerKey, "stranger"},
                                   {&p.client, &p.clientKey, "client"}}) {
      *cert = d.file(std::string(name) + ".pem");
      *key = d.file(std::string(name) + ".key");
    }
    p.serverPin = pinOf(d, "server");
    p.otherPin = pinOf(d, "client");
    return p;
  }();
  return pki;
}

TlsTestServer::TlsTestServer(const Options& options) {
  server_ = std::make_unique<httplib::SSLServer>([this, options](SSL_CTX& context) {
    context_ = &context;
    if (SSL_CTX_use_certificate_chain_file(&context, options.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(&context, options.key.c_str(), SSL_FILETYPE_PEM) != 1) {
      return false;
    }
    if (!options.clientCa.empty()) {
      SSL_CTX_load_verify_locations(&context, options.clientCa.c_str(), nullptr);
      SSL_CTX_set_verify(&context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    if (options.tls12Only) SSL_CTX_set_max_proto_version(&context, TLS1_2_VERSION);
    return true;
  });
  // Kept connections end a second after the last request, so stopping never waits long for them.
  server_->set_keep_alive_timeout(1);
  server_->Post(".*", [this](const httplib::Request&, httplib::Response& response) {
    ++requests_;
    response.set_content("<SCORE_RESULT><SCORE>1</SCORE></SCORE_RESULT>", "text/xml");
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (!server_->is_valid() || port_ <= 0) throw std::runtime_error("test TLS server: cannot listen");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // Stopped before it runs, cpp-httplib's server would start afterwards and never stop.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

TlsTestServer::~TlsTestServer() {
  server_->stop();
  thread_.join();
}

long TlsTestServer::resumedSessions() const { return SSL_CTX_sess_hits(static_cast<SSL_CTX*>(context_)); }

std::string TlsTestServer::uri(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace hcs::test
