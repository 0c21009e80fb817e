#include "transport/http_client.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <mutex>

#include <curl/curl.h>

#include "transport/socket_platform.h"
#include "transport/tls_files.h"
#include "util/fork_safety.h"
#include "util/uri.h"

namespace hcs {
namespace {

void initCurlOnce() {
  // Once per process and never undone: the host may keep other libcurl users alive after us.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool usableHostByte(unsigned char c) {
  // Name characters and UTF-8 bytes (international names); anything else would change how the URL
  // splits (":", "@", "?", "#", "/", blanks).
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_' || c >= 0x80;
}

// Blanks and control bytes would break the request line apart; everything else goes out as stored.
std::string requestTarget(std::string_view target) {
  return percentEncoded(target, [](unsigned char c) { return c <= 0x20 || c == 0x7F; });
}

// Milliseconds as libcurl takes them; long is 32 bits on some platforms.
long curlMilliseconds(uint64_t ms) {
  return static_cast<long>(std::min<uint64_t>(ms, std::numeric_limits<long>::max()));
}

std::string bodyTooLargeText() {
  return "Reply body larger than " + std::to_string(HttpClient::kMaxBodyBytes) + " bytes refused";
}

// Worded as libcurl words its own timeouts, so a reply that came too late reads the same either way.
std::string replyTimeoutText(CURL* curl, std::chrono::steady_clock::duration elapsed);

std::string deadlineText(CURL* curl, std::chrono::steady_clock::duration elapsed, bool exchangeStarted) {
  if (exchangeStarted) return "Deadline reached: " + replyTimeoutText(curl, elapsed);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  return "Deadline reached while connecting, after " + std::to_string(ms) + " milliseconds";
}

// The failure class of a transfer libcurl ended with `code` after the request went out.
AttemptResult exchangeFailure(CURLcode code) {
  switch (code) {
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return AttemptResult::kReset;
    case CURLE_OPERATION_TIMEDOUT:
      return AttemptResult::kTimeout;
    default:
      return AttemptResult::kOther;
  }
}

// The handshake or the certificate: nothing a retry on the same settings can mend.
bool isTlsFailure(CURLcode code) {
  switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
      return true;
    default:
      return false;
  }
}

std::string replyTimeoutText(CURL* curl, std::chrono::steady_clock::duration elapsed) {
  curl_off_t received = 0;
  curl_off_t expected = -1;
  curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &received);
  curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  std::string text =
      "Operation timed out after " + std::to_string(ms) + " milliseconds with " + std::to_string(received);
  if (expected >= 0) text += " out of " + std::to_string(expected);
  return text + " bytes received";
}

}  // namespace

// libcurl shares TLS sessions between easy handles through a share handle, which asks us to lock.
class HttpEndpoint::TlsSessions {
 public:
  TlsSessions() : share_(curl_share_init()) {
    if (share_ == nullptr) return;
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share_.get(), CURLSHOPT_LOCKFUNC, &lock);
    curl_share_setopt(share_.get(), CURLSHOPT_UNLOCKFUNC, &unlock);
    curl_share_setopt(share_.get(), CURLSHOPT_USERDATA, this);
  }
  void* share() const { return share_.get(); }

 private:
  static void lock(CURL*, curl_lock_data, curl_lock_access, void* self) {
    static_cast<TlsSessions*>(self)->mutex_.lock();
  }
  static void unlock(CURL*, curl_lock_data, void* self) { static_cast<TlsSessions*>(self)->mutex_.unlock(); }

  // Taken only while a connection is made, never for an exchange on a kept one.
  std::mutex mutex_;
  ForkLock forkLock_{mutex_, ForkLockRank::kTlsSessions};
  CurlShare share_;
};

HttpEndpoint::HttpEndpoint(std::string host, int32_t port, int minorVersion, uint32_t connectTimeoutMs,
                           uint32_t replyTimeoutMs, std::optional<TlsOptions> tls)
    : host_(std::move(host)),
      port_(port),
      minorVersion_(minorVersion),
      connectTimeoutMs_(connectTimeoutMs),
      replyTimeoutMs_(replyTimeoutMs),
      tls_(std::move(tls)) {
  if (tls_) sessions_ = std::make_unique<TlsSessions>();
  if (host_.empty() || !std::all_of(host_.begin(), host_.end(),
                                    [](char c) { return usableHostByte(static_cast<unsigned char>(c)); })) {
    invalid_ = "Bad host name [" + host_ + "]";
  }
  if (invalid_.empty() && (port_ < 0 || port_ > 65535)) invalid_ = "Bad port number " + std::to_string(port_);
  url_ = (tls_ ? "https://" : "http://") + host_ + ":" + std::to_string(port_) + "/";
}

HttpEndpoint::~HttpEndpoint() = default;

struct HttpClient::Callbacks {
  static size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<HttpClient*>(user);
    const size_t n = size * count;
    std::string_view line(data, n);
    // A status line starts every response (1xx interim ones included); the last one counts.
    if (line.starts_with("HTTP/")) {
      const size_t blank = line.find(' ');
      std::string_view rest = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
      while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n')) rest.remove_suffix(1);
      const size_t nul = rest.find('\0');
      if (nul != std::string_view::npos) rest = rest.substr(0, nul);
      self->reply_->statusText.assign(rest);
      self->reply_->body.clear();
    }
    return n;
  }

  static size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<HttpClient*>(user);
    const size_t n = size * count;
    if (self->reply_->body.size() + n > kMaxBodyBytes) {
      self->bodyTooLarge_ = true;
      return 0;  // makes libcurl abort the transfer
    }
    self->reply_->body.append(data, n);
    return n;
  }

  // libcurl calls this once a connection exists (new or reused), right before the request goes out:
  // the line between the connection step and the exchange, and where the wait for the reply starts.
  // A request libcurl sends again on a new connection starts its wait anew.
  static int onPrerequest(void* user, char*, char*, int, int) {
    auto* self = static_cast<HttpClient*>(user);
    self->exchangeStarted_ = true;
    self->requestSentAt_ = std::chrono::steady_clock::now();
    return CURL_PREREQFUNC_OK;
  }

  // Sockets made here do not leak into processes the host starts (close-on-exec from the start, so no
  // fork on another thread can catch them unmarked).
  // A new socket starts a new connection step: when libcurl re-sends a request on a fresh connection
  // after a kept one died, a failure to connect is a connection failure like any other.
  static curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    static_cast<HttpClient*>(user)->exchangeStarted_ = false;
    const int fd = openPrivateSocket(address->family, address->socktype, address->protocol);
    return fd >= 0 ? static_cast<curl_socket_t>(fd) : CURL_SOCKET_BAD;
  }

  // Not called for every socket (libcurl 7.88 closes one that failed to connect by itself), but for
  // every connection it kept: enough to know when the kept one is gone.
  static int onCloseSocket(void* user, curl_socket_t fd) {
    auto* self = static_cast<HttpClient*>(user);
    if (static_cast<int>(fd) == self->keptSocket_) self->keptSocket_ = -1;
    return closePrivateSocket(static_cast<int>(fd));
  }
};

HttpClient::HttpClient(const HttpEndpoint& endpoint) : endpoint_(endpoint), generation_(forkGeneration()) {
  initCurlOnce();
  curl_.reset(curl_easy_init());
  // Our own multi handle, so the wait for a reply can be bounded from the moment the request went out;
  // it keeps the one connection between posts as curl_easy_perform's hidden one would.
  multi_.reset(curl_multi_init());
  // No "Expect: 100-continue" round trip, and no Accept header the service has no use for.
  if (curl_ == nullptr || multi_ == nullptr || !appendHeader(headers_, "Expect:") ||
      !appendHeader(headers_, "Accept:")) {
    throw CHttpConnectException("Cannot create an HTTP client");
  }
  curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, 1L);
  errorBuffer_[0] = '\0';
  if (!configure()) throw CHttpConnectException("The HTTP client needs libcurl 7.85 or later");
}

bool HttpClient::configure() {
  CURL* curl = curl_.get();
  targetSet_ = false;
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, endpoint_.tls() != nullptr ? "https" : "http");
  if (endpoint_.tls() != nullptr) configureTls();
  curl_easy_setopt(curl, CURLOPT_PROXY, "");  // never a proxy from the environment
  curl_easy_setopt(curl, CURLOPT_URL, endpoint_.url().c_str());
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION,
                   endpoint_.minorVersion() == 0 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  // The connection waits this long; the reply's wait is ours (perform), counted from the request.
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, curlMilliseconds(endpoint_.connectTimeoutMs()));
  curl_easy_setopt(curl, CURLOPT_MAXCONNECTS, 1L);  // one handle, one connection
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer_);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Callbacks::onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Callbacks::onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, this);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Callbacks::onOpenSocket);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, &Callbacks::onCloseSocket);
  curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);
  // Without the prerequest callback every failure would look like a connection failure.
  return curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &Callbacks::onPrerequest) == CURLE_OK;
}

void HttpClient::configureTls() {
  CURL* curl = curl_.get();
  const TlsOptions& tls = *endpoint_.tls();
  // Verification is never switched off: a private CA goes in caFile.
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, tls.tls13 ? CURL_SSLVERSION_TLSv1_3 : CURL_SSLVERSION_TLSv1_2);
  if (!tls.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, tls.caFile.c_str());
  if (!tls.certFile.empty()) {
    curl_easy_setopt(curl, CURLOPT_SSLCERT, tls.certFile.c_str());
    curl_easy_setopt(curl, CURLOPT_SSLKEY, tls.keyFile.c_str());
  }
  if (!tls.pinnedPublicKey.empty())
    curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, tls.pinnedPublicKey.c_str());
  if (endpoint_.sessions_ != nullptr && endpoint_.sessions_->share() != nullptr) {
    curl_easy_setopt(curl, CURLOPT_SHARE, endpoint_.sessions_->share());
  }
}

std::string HttpClient::tlsFailureText(int code) const {
  if (code == CURLE_SSL_PINNEDPUBKEYNOTMATCH) return "public key does not match the pinned key";
  // The chain's verdict in OpenSSL's words; libcurl's own text for what OpenSSL did not check itself
  // (the host name), which leaves the result unspecified.
  long verified = 0;
  if (code == CURLE_PEER_FAILED_VERIFICATION &&
      curl_easy_getinfo(curl_.get(), CURLINFO_SSL_VERIFYRESULT, &verified) == CURLE_OK && verified > 1) {
    return "certificate verify failed: " + verifyResultText(verified);
  }
  return errorBuffer_[0] != '\0' ? std::string(errorBuffer_)
                                 : std::string(curl_easy_strerror(static_cast<CURLcode>(code)));
}

HttpClient::~HttpClient() {
  // In a forked child the kept connection is the parent's: closing it here must not touch its state.
  // The multi handle that holds it goes first (member order), calling onCloseSocket.
  if (generation_ != forkGeneration()) detachInheritedSocket(keptSocket_);
}

bool HttpClient::isConnected() const { return keptSocket_ != -1; }

int HttpClient::perform(std::chrono::steady_clock::time_point started,
                        std::chrono::steady_clock::time_point deadline) {
  CURLM* multi = multi_.get();
  CURL* curl = curl_.get();
  if (curl_multi_add_handle(multi, curl) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
  const auto timeout = std::chrono::milliseconds(endpoint_.replyTimeoutMs());
  const bool bounded = deadline != std::chrono::steady_clock::time_point::max();
  CURLcode result = CURLE_OK;
  while (true) {
    int running = 0;
    CURLMcode state = curl_multi_perform(multi, &running);
    if (state != CURLM_OK) {
      result = CURLE_OUT_OF_MEMORY;
      break;
    }
    if (running == 0) {
      int queued = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == curl) result = message->data.result;
      }
      break;
    }
    int waitMs = 1000;
    if (bounded) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) {
        timeoutText_ = deadlineText(curl, now - started, exchangeStarted_);
        deadlineCut_ = true;
        result = CURLE_OPERATION_TIMEDOUT;
        break;
      }
      waitMs = static_cast<int>(
          std::min<int64_t>(waitMs, std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
    }
    if (exchangeStarted_ && timeout.count() > 0) {
      const auto left = requestSentAt_ + timeout - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) {
        timeoutText_ = replyTimeoutText(curl, std::chrono::steady_clock::now() - started);
        result = CURLE_OPERATION_TIMEDOUT;
        break;
      }
      // Rounded up, so the wake-up never comes before the deadline.
      waitMs = static_cast<int>(
          std::min<int64_t>(waitMs, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }
    state = curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
    if (state != CURLM_OK) {
      result = CURLE_OUT_OF_MEMORY;
      break;
    }
  }
  // libcurl names the connection it keeps only while the handle is still in the multi handle.
  curl_socket_t kept = CURL_SOCKET_BAD;
  if (result != CURLE_OK || curl_easy_getinfo(curl, CURLINFO_ACTIVESOCKET, &kept) != CURLE_OK)
    kept = CURL_SOCKET_BAD;
  keptSocket_ = kept == CURL_SOCKET_BAD ? -1 : static_cast<int>(kept);
  // Taken out mid-transfer (a timeout), libcurl closes the connection rather than keep it.
  curl_multi_remove_handle(multi, curl);
  return static_cast<int>(result);
}

HttpReply HttpClient::post(std::string_view target, std::string_view contentType, std::string_view body,
                           const HttpPostLimits& limits) {
  HttpReply reply;
  post(target, contentType, body, limits, reply);
  return reply;
}

void HttpClient::post(std::string_view target, std::string_view contentType, std::string_view body,
                      const HttpPostLimits& limits, HttpReply& reply) {
  if (!endpoint_.invalid().empty()) throw CHttpConnectException(endpoint_.invalid());
  CURL* curl = curl_.get();

  if (!targetSet_ || target != target_) {
    target_.assign(target);
    targetText_ = requestTarget(target);
    curl_easy_setopt(curl, CURLOPT_REQUEST_TARGET, targetText_.c_str());
    targetSet_ = true;
  }
  if (contentTypeHeader_.empty() || contentType != contentType_) {
    contentType_.assign(contentType);
    contentTypeHeader_ = "Content-Type: " + contentType_;
  }
  curl_slist contentTypeItem{contentTypeHeader_.data(), headers_.get()};
  curl_slist extraItem{const_cast<char*>(limits.extraHeader.data()), &contentTypeItem};
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, limits.extraHeader.empty() ? &contentTypeItem : &extraItem);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));

  reply.code = 0;
  reply.statusText.clear();
  reply.body.clear();
  reply_ = &reply;
  exchangeStarted_ = false;
  bodyTooLarge_ = false;
  deadlineCut_ = false;
  errorBuffer_[0] = '\0';
  timeoutText_.clear();
  const auto code = static_cast<CURLcode>(perform(std::chrono::steady_clock::now(), limits.deadline));
  reply_ = nullptr;
  // The header list lives on this stack frame only.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);

  if (code != CURLE_OK) {
    std::string why;
    if (bodyTooLarge_ || code == CURLE_FILESIZE_EXCEEDED) {
      why = bodyTooLargeText();
    } else if (!timeoutText_.empty()) {
      why = std::move(timeoutText_);
    } else if (isTlsFailure(code)) {
      why = tlsFailureText(code);
    } else {
      why = errorBuffer_[0] != '\0' ? std::string(errorBuffer_) : std::string(curl_easy_strerror(code));
    }
    if (!exchangeStarted_) {
      // A handshake the network broke (reset, closed) is a connection failure: a retry may well get
      // through. Only what TLS itself refused is a TLS failure.
      long osError = 0;
      curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
      const AttemptResult failure = deadlineCut_                         ? AttemptResult::kTimeout
                                    : isTlsFailure(code) && osError == 0 ? AttemptResult::kTls
                                                                         : AttemptResult::kConnect;
      throw CHttpConnectException(std::move(why), failure, deadlineCut_);
    }
    AttemptResult failure = deadlineCut_ ? AttemptResult::kTimeout : exchangeFailure(code);
    // A TLS 1.3 service refuses a client certificate (or its lack) after the handshake, with an alert
    // on the first read: a TLS failure all the same.
    if (endpoint_.tls() != nullptr && (code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR) &&
        why.find(" alert ") != std::string::npos) {
      failure = AttemptResult::kTls;
    }
    if (bodyTooLarge_ || code == CURLE_FILESIZE_EXCEEDED) failure = AttemptResult::kOther;
    throw CHttpException(std::move(why), failure, deadlineCut_);
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.code);

  // libcurl re-sends a request by itself when a kept connection turns out dead, and counts those
  // re-sends over the handle's whole life (libcurl 7.88 does): after five of them, however far
  // apart, the next dead connection fails the post. Only a reset clears that count; it keeps the
  // open connection. Re-sends always connect anew, so resetting after each post that connected
  // keeps the count per post, at a cost only when a connection is made.
  long connects = 0;
  if (curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK && connects > 0) {
    curl_easy_reset(curl);
    configure();
  }
}

}  // namespace hcs
