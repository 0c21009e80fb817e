#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "metrics/attempt_result.h"
#include "transport/curl_handles.h"

namespace hcs {

// A failure of the HTTP transport, carrying the transport's own message text (libcurl's, or ours for
// the reply size cap) and the failure's class. This is what leaves a post when the exchange with the
// service fails.
class CHttpException : public std::exception {
 public:
  explicit CHttpException(std::string why, AttemptResult failure = AttemptResult::kOther,
                          bool deadlineCut = false)
      : why_(std::move(why)), failure_(failure), deadlineCut_(deadlineCut) {}
  const std::string& why() const { return why_; }
  AttemptResult failure() const { return failure_; }
  // Cut at the deadline the caller gave (class kTimeout).
  bool deadlineCut() const { return deadlineCut_; }
  const char* what() const noexcept override { return why_.c_str(); }

 private:
  std::string why_;
  AttemptResult failure_;
  bool deadlineCut_;
};

// A failure before any connection to the service existed: the host did not resolve, the connection
// was refused or timed out, the address is unusable, or no client could be made. Nothing was sent.
class CHttpConnectException : public CHttpException {
 public:
  explicit CHttpConnectException(std::string why, AttemptResult failure = AttemptResult::kConnect,
                                 bool deadlineCut = false)
      : CHttpException(std::move(why), failure, deadlineCut) {}
};

// TLS to an https endpoint. The certificate chain and the host name are always verified; TLS 1.2 is
// the least version spoken.
struct TlsOptions {
  std::string caFile;    // PEM CA certificates to trust; "": the system's store
  std::string certFile;  // a PEM client certificate and its key, or both ""
  std::string keyFile;
  std::string pinnedPublicKey;  // "sha256//<base64>[;…]": the service's key must be one of these; "": any
  bool tls13 = false;           // TLS 1.3 at least
};

// Where and how to post: built once per interface, then read-only and shared by all its clients (its
// TLS session cache synchronises itself).
class HttpEndpoint {
 public:
  // `host` is UTF-8; `port` as given (out-of-range ports and unusable host names fail at connection
  // time with a clear text). `minorVersion` 0 sends HTTP/1.0, anything else HTTP/1.1. `timeoutMs`
  // bounds connecting, and separately the wait for the reply counted from the moment the request is
  // sent, on a new and on a kept connection alike; 0 means libcurl's connect default and no reply limit.
  HttpEndpoint(std::string host, int32_t port, int minorVersion, uint32_t timeoutMs)
      : HttpEndpoint(std::move(host), port, minorVersion, timeoutMs, timeoutMs) {}
  // The same with the two waits set apart, over TLS when `tls` is given.
  HttpEndpoint(std::string host, int32_t port, int minorVersion, uint32_t connectTimeoutMs,
               uint32_t replyTimeoutMs, std::optional<TlsOptions> tls = std::nullopt);
  ~HttpEndpoint();
  HttpEndpoint(const HttpEndpoint&) = delete;
  HttpEndpoint& operator=(const HttpEndpoint&) = delete;

  const std::string& url() const { return url_; }
  // Non-empty when host or port cannot make a usable address.
  const std::string& invalid() const { return invalid_; }
  int minorVersion() const { return minorVersion_; }
  uint32_t connectTimeoutMs() const { return connectTimeoutMs_; }
  uint32_t replyTimeoutMs() const { return replyTimeoutMs_; }
  const std::string& host() const { return host_; }
  int32_t port() const { return port_; }
  // The TLS options of an https endpoint; nullptr for plain http.
  const TlsOptions* tls() const { return tls_ ? &*tls_ : nullptr; }

 private:
  friend class HttpClient;
  class TlsSessions;  // libcurl's share of TLS sessions between this endpoint's clients

  std::string host_;
  int32_t port_;
  std::string url_;
  std::string invalid_;
  int minorVersion_;
  uint32_t connectTimeoutMs_;
  uint32_t replyTimeoutMs_;
  std::optional<TlsOptions> tls_;
  // A connection a client makes resumes a TLS session one of them made before: a reconnect costs one
  // round trip and no key exchange.
  std::unique_ptr<TlsSessions> sessions_;
};

// What one post may take and carry beyond the endpoint's settings.
struct HttpPostLimits {
  // The post is cut when this passes, whether connecting or waiting for the reply.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  // One more request header, "Name: value", or empty. Its text must be followed by a NUL, as a
  // std::string's is: libcurl reads it as a C string.
  std::string_view extraHeader;
};

struct HttpReply {
  long code = 0;
  // "<code> <reason phrase>" from the status line, cut at a NUL byte.
  std::string statusText;
  // The body bytes as received (may hold NUL bytes; the caller decides what to keep).
  std::string body;

  bool is2xx() const { return code >= 200 && code < 300; }
};

// One HTTP client connection: a libcurl easy handle run on a multi handle of its own, which keeps at
// most one connection to the endpoint open between posts and reconnects by itself when it finds that
// connection closed.
//
// Descriptors: the connection's socket is close-on-exec. Each client also holds the two AF_UNIX
// sockets of libcurl's multi-handle wake-up pair (socketpair() in curl_multi_init, libcurl 7.88), and a
// host name lookup briefly holds another such pair; libcurl makes these without close-on-exec and
// offers no way to reach them, so a process the host forks and execs inherits them (curl issue 13618).
//
// Not thread-safe: one thread at a time per client. Different clients are independent. The endpoint
// must outlive the client.
class HttpClient {
 public:
  // Reply bodies past this size are refused rather than held in the host's memory.
  static constexpr size_t kMaxBodyBytes = 64u * 1024 * 1024;

  // Throws CHttpConnectException when libcurl cannot make a handle.
  explicit HttpClient(const HttpEndpoint& endpoint);
  // In a process forked after the client was made, the kept connection is the parent's: it is let go
  // without a byte sent on it or a change to its state (util/fork_safety.h).
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Whether a connection to the service is open and kept for the next post.
  bool isConnected() const;

  // POSTs `body` with the request target `target` and the Content-Type `contentType`.
  // Throws CHttpConnectException when no connection could be made (nothing was sent); the client stays
  // usable. Throws CHttpException for any later failure (send, receive, timeout waiting for the reply,
  // a malformed reply, a body over kMaxBodyBytes); the client should then be dropped. Either carries
  // the failure's class; one cut at `limits.deadline` is kTimeout and says so.
  // A non-2xx status is no failure: it comes back in the reply.
  HttpReply post(std::string_view target, std::string_view contentType, std::string_view body,
                 const HttpPostLimits& limits = {});
  // The same into `reply`, whose buffers are reused.
  void post(std::string_view target, std::string_view contentType, std::string_view body,
            const HttpPostLimits& limits, HttpReply& reply);

 private:
  struct Callbacks;  // libcurl's callbacks, defined where curl.h is included
  friend struct Callbacks;

  // Sets every option that stays the same from post to post; false when libcurl lacks one we need.
  bool configure();
  void configureTls();
  // What a TLS failure with libcurl's `code` says: the verification result in OpenSSL's words, the
  // pin, or libcurl's own text.
  std::string tlsFailureText(int code) const;
  // Runs the transfer; gives up once the reply has not come within the timeout of the request going
  // out, or at `deadline` (CURLE_OPERATION_TIMEDOUT, with timeoutText_ set; deadlineCut_ for the latter).
  int perform(std::chrono::steady_clock::time_point started, std::chrono::steady_clock::time_point deadline);

  const HttpEndpoint& endpoint_;
  const uint64_t generation_;
  int keptSocket_ = -1;  // the socket of the connection kept for the next post, -1 when none
  std::chrono::steady_clock::time_point requestSentAt_;
  std::string timeoutText_;
  // Made once and kept while the target and content type stay the same (libcurl copies a target on
  // every setopt).
  std::string target_;
  std::string targetText_;
  std::string contentType_;
  std::string contentTypeHeader_;
  bool targetSet_ = false;
  char errorBuffer_[256];
  bool exchangeStarted_ = false;
  bool bodyTooLarge_ = false;
  bool deadlineCut_ = false;
  HttpReply* reply_ = nullptr;
  // Last, so they go first, while everything libcurl may call back into still exists; the multi handle
  // before the easy handle it served.
  CurlList headers_;
  CurlEasy curl_;
  CurlMulti multi_;
};

}  // namespace hcs
