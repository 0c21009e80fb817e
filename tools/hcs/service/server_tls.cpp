#include "service/server_tls.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace hcs::service {
namespace {

// OpenSSL's words for the failures of this thread, the first (the cause) first; its queue is left empty.
std::string lastReason() {
  std::string reasons;
  while (const unsigned long code = ERR_get_error()) {
    const char* reason = ERR_reason_error_string(code);
    if (reason == nullptr || reasons.find(reason) != std::string::npos) continue;
    reasons.append(reasons.empty() ? "" : ", ").append(reason);
  }
  return reasons.empty() ? "unknown reason" : reasons;
}

// A service must never stop to ask a terminal for a passphrase; such a key fails to load, and the flag
// says why.
int noPassphrase(char*, int, int, void* asked) {
  *static_cast<bool*>(asked) = true;
  return 0;
}

// The system's words for a file that cannot be opened, which OpenSSL would only call "system lib".
std::string unreadable(const std::string& file) {
  if (::access(file.c_str(), R_OK) == 0) return "";
  return "cannot read " + file + ": " + std::strerror(errno);
}

}  // namespace

std::string setUpServerContext(SSL_CTX& context, const ServerTls& tls) {
  ERR_clear_error();
  for (const std::string* file : {&tls.certificate, &tls.key, &tls.clientCa}) {
    if (file == &tls.clientCa && file->empty()) continue;
    if (std::string problem = unreadable(*file); !problem.empty()) return problem;
  }
  bool passphraseAsked = false;
  SSL_CTX_set_default_passwd_cb(&context, noPassphrase);
  SSL_CTX_set_default_passwd_cb_userdata(&context, &passphraseAsked);
  if (SSL_CTX_use_certificate_chain_file(&context, tls.certificate.c_str()) != 1)
    return "no certificate in " + tls.certificate + ": " + lastReason();
  const bool keyLoaded = SSL_CTX_use_PrivateKey_file(&context, tls.key.c_str(), SSL_FILETYPE_PEM) == 1;
  SSL_CTX_set_default_passwd_cb_userdata(&context, nullptr);
  if (!keyLoaded && passphraseAsked) {
    ERR_clear_error();
    return "no usable key in " + tls.key + ": it is encrypted, and a service cannot ask for its passphrase";
  }
  if (!keyLoaded) return "no usable key in " + tls.key + ": " + lastReason();
  if (SSL_CTX_check_private_key(&context) != 1)
    return "the key in " + tls.key + " is not the key of " + tls.certificate + ": " + lastReason();
  SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
  SSL_CTX_set_options(&context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
  // Sessions of a service that verifies clients resume only within a context it names.
  static constexpr unsigned char kSessionContext[] = "hcs serve";
  SSL_CTX_set_session_id_context(&context, kSessionContext, sizeof kSessionContext - 1);
  if (!tls.clientCa.empty()) {
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(tls.clientCa.c_str());
    if (names == nullptr || SSL_CTX_load_verify_locations(&context, tls.clientCa.c_str(), nullptr) != 1) {
      if (names != nullptr) sk_X509_NAME_pop_free(names, X509_NAME_free);
      return "no CA certificate in " + tls.clientCa + ": " + lastReason();
    }
    // Tells clients whose certificates are accepted.
    SSL_CTX_set_client_CA_list(&context, names);
    SSL_CTX_set_verify(&context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  if (!tls.resumption) {
    // Neither a session cache (TLS 1.2 ids) nor tickets (TLS 1.2 and 1.3): every handshake is full.
    SSL_CTX_set_session_cache_mode(&context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(&context, SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(&context, 0);
  }
  return "";
}

}  // namespace hcs::service
