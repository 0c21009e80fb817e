#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

#include "transport/http_client.h"
#include "transport/output_interface.h"
#include "util/fork_safety.h"

namespace hcs {

class CUri;
class CalloutMetrics;

// What a callout posts through: one attempt, bytes in, the answer or a failure with its class out. The
// HTTP interface is the one the system builds; a test or a fuzzer may put another in its place.
class CalloutTransport {
 public:
  virtual ~CalloutTransport() = default;
  // Posts `message` (UTF-8; a line feed is added) and waits for the answer: returns its status code,
  // with `status` "<code> <reason phrase>" and `reply` the body as 8-bit text (as toStdString of the
  // UTF-16 reply would be, each cut at a NUL byte). A transport failure leaves as CHttpException
  // carrying its class, CHttpConnectException when nothing was sent; a cut at `limits.deadline` is one
  // of kTimeout. The "0000E" record of a path that is not valid UTF-16 leaves too.
  virtual long post(std::string_view message, icu::UnicodeString& status, std::string& reply,
                    const HttpPostLimits& limits) = 0;
};

// Delivers message texts to an HTTP service: each send POSTs the message (UTF-8, plus a final line
// feed, Content-Type "text/xml; charset=UTF-8") to the URI's path and returns the reply. It pools
// connections and posts bytes; what a call does with them (attempts, deadline, circuit) is the callout's.
//
// Connections: the interface keeps a small pool of idle client connections and takes one per send, so
// concurrent senders never share one; used from one thread it holds exactly one connection, kept open
// between sends and reopened when the service has closed it. In a process forked from the one that
// made them, the connections are the parent's: the child never sends on one, it drops them without
// touching their state and connects anew.
//
// Thread-safety: `send` and `post` may run on many threads at once. Everything else is fixed at
// construction.
class OHTTP : public OInterface, public CalloutTransport {
 public:
  // The pool keeps as many idle connections as sends ever ran at once (a host's threads), at least
  // kMinIdleClients and at most kMaxIdleClients; one past that is closed when its send ends.
  static constexpr size_t kMinIdleClients = 16;
  static constexpr size_t kMaxIdleClients = 512;

  // Address from the URI's host (as UTF-8) and port (httpPort: no port gives 80; a port that is no
  // number from 0 to 65535 fails each send in the connection step). The request target is the URI's
  // `target` for an http URI (any letter case), its `path` otherwise. `timeoutMs` bounds connecting,
  // and separately the wait for a reply once the request has been sent (0: no limit).
  // `versionSelector` 0 sends HTTP/1.0, 1 (and anything else) HTTP/1.1. "retries" in the query sets
  // retries() by readRetries (callout_settings.h).
  // Throws the "0000E" QRM_Exception when the host is not valid UTF-16, CHttpConnectException when no
  // client can be made.
  OHTTP(const CUri& uri, uint32_t timeoutMs, int32_t versionSelector);
  // The same with the two waits apart, and over TLS when `tls` is given. `metrics` (may be null; must
  // outlive the interface) counts the pool's connections.
  OHTTP(const CUri& uri, uint32_t connectTimeoutMs, uint32_t replyTimeoutMs, int32_t versionSelector,
        CalloutMetrics* metrics, std::optional<TlsOptions> tls = std::nullopt);
  // The same for one of several instances a URI lists: its host and port instead of the URI's (which
  // reads such a list as one host), everything else from the URI; HTTP/1.1.
  OHTTP(const CUri& uri, const std::string& host, int32_t port, uint32_t connectTimeoutMs,
        uint32_t replyTimeoutMs, CalloutMetrics* metrics, std::optional<TlsOptions> tls);
  ~OHTTP() override;

  // One attempt, in two steps:
  // 1. The connection step: take an idle client (or make one) and, inside the post, connect when it
  //    has no open connection. A failure here (no client, bad address, host not found, connection
  //    refused or timed out) throws QRM_Exception "0000E" (entry 0, severity 4) carrying the
  //    transport's text; nothing was sent, and the client goes back to the pool.
  // 2. The exchange: any transport failure after the connection exists (reset, closed without an
  //    answer, no reply within the timeout of the request being sent, malformed reply, reply body over
  //    64 MiB) drops that client and throws CHttpException; its why() is the transport's text.
  // `reply` is emptied first. On an answer, `status` gets "<code> <reason phrase>" and `reply` the
  // body, each cut at a NUL byte; the result is 0 for a 2xx status and -1 otherwise.
  // The "0000E" record of toUtf8 leaves when `message` or the path is not valid UTF-16.
  int32_t send(void* context, const icu::UnicodeString& message, icu::UnicodeString& status,
               icu::UnicodeString* reply) override;
  // The same with the message given as UTF-8 (posted as it is, plus the line feed) and the reply
  // handed back as 8-bit text: exactly toStdString of what send would have put in `reply`, without
  // the trip through UTF-16 when the body is well-formed UTF-8; cut at `limits.deadline`.
  int32_t sendUtf8(std::string_view message, icu::UnicodeString& status, std::string* reply,
                   const HttpPostLimits& limits);
  // sendUtf8 with every transport failure left as CHttpException (CalloutTransport).
  long post(std::string_view message, icu::UnicodeString& status, std::string& reply,
            const HttpPostLimits& limits) override;

  void open() override {}
  void close() override {}
  void flush() override {}

  int32_t retries() const { return retries_; }
  uint32_t timeout() const { return timeout_; }
  int32_t versionMajor() const { return versionMajor_; }
  int32_t versionMinor() const { return versionMinor_; }
  const icu::UnicodeString& path() const { return path_; }
  const HttpEndpoint& endpoint() const { return endpoint_; }

  // Idle clients in the pool, and how many of them hold an open connection.
  size_t idleClients() const;
  size_t idleConnections() const;

 private:
  class Lease;

  OHTTP(const CUri& uri, const std::string& host, int32_t port, int32_t versionSelector,
        uint32_t connectTimeoutMs, uint32_t replyTimeoutMs, CalloutMetrics* metrics,
        std::optional<TlsOptions> tls);

  std::unique_ptr<HttpClient> takeClient();
  void giveBack(std::unique_ptr<HttpClient> client);
  void returned();  // a lent client that will not come back
  // In a child process, the first time its pool is used: hands back the parent's idle clients (to be
  // destroyed outside the lock) and forgets the parent's lent ones. Called with the lock held.
  std::vector<std::unique_ptr<HttpClient>> forgetInherited();
  void countConnections(int64_t idle, int64_t busy) const;
  // The exchange of one send on the leased client; the reply is this thread's, valid until its next send.
  HttpReply& exchange(Lease& lease, std::string_view body, const HttpPostLimits& limits);
  // The same for this thread's kept `body`, which gives back what a huge message grew however it ends.
  HttpReply& exchangeAndShrink(Lease& lease, std::string& body, const HttpPostLimits& limits);

  CalloutMetrics* const metrics_;
  icu::UnicodeString path_;
  std::string pathUtf8_;  // path_ as UTF-8, made once
  bool pathUtf8Valid_;    // false: each send fails converting the path, as it always would
  uint32_t timeout_;
  int32_t retries_;
  int32_t versionMajor_ = 1;
  int32_t versionMinor_;
  HttpEndpoint endpoint_;

  mutable std::mutex poolMutex_;
  ForkLock poolForkLock_{poolMutex_, ForkLockRank::kConnectionPool};
  std::vector<std::unique_ptr<HttpClient>> idle_;
  size_t lent_ = 0;                // clients taken by sends and not yet back
  size_t keep_ = kMinIdleClients;  // idle clients kept: the most ever lent at once, within the bounds
  uint64_t poolGeneration_;        // the fork generation idle_ and lent_ belong to
};

}  // namespace hcs
