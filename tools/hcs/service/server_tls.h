#pragma once

#include <string>

#include <openssl/types.h>

namespace hcs::service {

// What a service needs to speak TLS: its certificate chain and key (PEM), optionally the CA whose
// certificates clients must present (mutual TLS), and whether returning clients may resume a session.
struct ServerTls {
  std::string certificate;
  std::string key;
  std::string clientCa;  // "" when no client certificate is asked for
  bool resumption = true;
};

// Loads the files into `context` and sets what every service here speaks: TLS 1.2 at least, a client
// certificate required and verified when `tls.clientCa` is set. Returns "" on success, or what went
// wrong naming the file and OpenSSL's reason (never anything read from the file). A key with a
// passphrase is refused rather than prompted for.
std::string setUpServerContext(SSL_CTX& context, const ServerTls& tls);

}  // namespace hcs::service
