#include "transport/http_interface.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "error/qrm_exception.h"
#include "metrics/callout_metrics.h"
#include "transport/callout_settings.h"
#include "util/kept_buffer.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

constexpr std::string_view kContentType = "text/xml; charset=UTF-8";

int32_t minorVersionFor(int32_t selector) { return selector == 0 ? 0 : 1; }

// Text from the transport is 8-bit in the local code page; a NUL ends it.
std::string_view upToNul(const std::string& text) {
  return std::string_view(text.data(), ::strnlen(text.data(), text.size()));
}

UCString fromTransport(const std::string& text) { return UCString(upToNul(text)); }

QRM_Exception connectionFailure(const CHttpException& e) {
  return QRM_Exception("", UCString(std::string_view(e.why())), 0, kSeverityCritical);
}

}  // namespace

// Holds a client for one send and returns it to the pool unless the send drops it. Taking it is the
// first half of the connection step.
class OHTTP::Lease {
 public:
  explicit Lease(OHTTP& owner) : owner_(owner), client_(owner.takeClient()) {}
  ~Lease() {
    if (client_) owner_.giveBack(std::move(client_));
  }
  HttpClient& client() { return *client_; }
  void drop() {
    client_.reset();
    owner_.returned();
  }

 private:
  OHTTP& owner_;
  std::unique_ptr<HttpClient> client_;
};

OHTTP::OHTTP(const CUri& uri, uint32_t timeoutMs, int32_t versionSelector)
    : OHTTP(uri, timeoutMs, timeoutMs, versionSelector, nullptr) {}

OHTTP::OHTTP(const CUri& uri, uint32_t connectTimeoutMs, uint32_t replyTimeoutMs, int32_t versionSelector,
             CalloutMetrics* metrics, std::optional<TlsOptions> tls)
    : OHTTP(uri, toUtf8(uri.host), httpPort(uri), versionSelector, connectTimeoutMs, replyTimeoutMs, metrics,
            std::move(tls)) {}

OHTTP::OHTTP(const CUri& uri, const std::string& host, int32_t port, uint32_t connectTimeoutMs,
             uint32_t replyTimeoutMs, CalloutMetrics* metrics, std::optional<TlsOptions> tls)
    : OHTTP(uri, host, port, 1, connectTimeoutMs, replyTimeoutMs, metrics, std::move(tls)) {}

OHTTP::OHTTP(const CUri& uri, const std::string& host, int32_t port, int32_t versionSelector,
             uint32_t connectTimeoutMs, uint32_t replyTimeoutMs, CalloutMetrics* metrics,
             std::optional<TlsOptions> tls)
    : metrics_(metrics),
      path_(isHttpScheme(uri) || isHttpsScheme(uri) ? uri.target : uri.path),
      pathUtf8Valid_(toUtf8(path_, pathUtf8_)),
      timeout_(replyTimeoutMs),
      retries_([&] {
        bool capped = false;
        return readRetries(uri, capped);
      }()),
      versionMinor_(minorVersionFor(versionSelector)),
      endpoint_(host, port, versionMinor_, connectTimeoutMs, replyTimeoutMs, std::move(tls)),
      poolGeneration_(forkGeneration()) {
  // Made up front like a single-connection client would be; it connects on the first send.
  idle_.push_back(std::make_unique<HttpClient>(endpoint_));
}

OHTTP::~OHTTP() {
  int64_t connected = 0;
  for (const auto& client : idle_) connected += client->isConnected() ? 1 : 0;
  countConnections(-connected, 0);
}

void OHTTP::countConnections(int64_t idle, int64_t busy) const {
  if (metrics_ != nullptr) metrics_->addConnections(idle, busy);
}

std::vector<std::unique_ptr<HttpClient>> OHTTP::forgetInherited() {
  std::vector<std::unique_ptr<HttpClient>> inherited;
  inherited.swap(idle_);
  int64_t connected = 0;
  for (const auto& client : inherited) connected += client->isConnected() ? 1 : 0;
  // The parent's lent clients belong to its threads, which do not exist here.
  countConnections(-connected, -static_cast<int64_t>(lent_));
  lent_ = 0;
  poolGeneration_ = forkGeneration();
  return inherited;
}

std::unique_ptr<HttpClient> OHTTP::takeClient() {
  std::vector<std::unique_ptr<HttpClient>> inherited;
  std::unique_ptr<HttpClient> client;
  {
    std::lock_guard lock(poolMutex_);
    if (poolGeneration_ != forkGeneration()) inherited = forgetInherited();
    ++lent_;
    // Steady work on N threads then makes no new connection once N exist.
    if (lent_ > keep_ && keep_ < kMaxIdleClients) keep_ = lent_;
    if (!idle_.empty()) {
      // The most recently used client is the one most likely to still hold a live connection.
      client = std::move(idle_.back());
      idle_.pop_back();
    }
  }
  inherited.clear();  // outside the lock
  if (client != nullptr) {
    countConnections(client->isConnected() ? -1 : 0, 1);
    return client;
  }
  try {
    client = std::make_unique<HttpClient>(endpoint_);
  } catch (...) {
    std::lock_guard lock(poolMutex_);
    --lent_;
    throw;
  }
  countConnections(0, 1);
  return client;
}

void OHTTP::returned() {
  {
    std::lock_guard lock(poolMutex_);
    --lent_;
  }
  countConnections(0, -1);
}

void OHTTP::giveBack(std::unique_ptr<HttpClient> client) {
  const bool connected = client->isConnected();
  {
    std::lock_guard lock(poolMutex_);
    --lent_;
    if (idle_.size() < keep_) {
      idle_.push_back(std::move(client));
    }
  }
  countConnections(client == nullptr && connected ? 1 : 0, -1);
  // Surplus after a burst of concurrent sends: closed outside the lock.
  client.reset();
}

size_t OHTTP::idleClients() const {
  std::lock_guard lock(poolMutex_);
  return idle_.size();
}

size_t OHTTP::idleConnections() const {
  std::lock_guard lock(poolMutex_);
  return static_cast<size_t>(
      std::count_if(idle_.begin(), idle_.end(), [](const auto& c) { return c->isConnected(); }));
}

int32_t OHTTP::send(void* context, const icu::UnicodeString& message, icu::UnicodeString& status,
                    icu::UnicodeString* reply) {
  if (reply != nullptr) reply->remove();
  try {
    Lease lease(*this);
    if (!pathUtf8Valid_) toUtf8(path_);  // throws the conversion's record, as every send does
    std::string body = toUtf8(message);
    body += '\n';
    HttpReply& answer = exchange(lease, body, HttpPostLimits{});
    status = fromTransport(answer.statusText);
    if (reply != nullptr) *reply = fromTransport(answer.body);
    keepSmall(answer.body);
    return answer.is2xx() ? 0 : -1;
  } catch (const CHttpConnectException& e) {
    throw connectionFailure(e);
  }
}

int32_t OHTTP::sendUtf8(std::string_view message, icu::UnicodeString& status, std::string* reply,
                        const HttpPostLimits& limits) {
  std::string ignored;
  try {
    const long code = post(message, status, reply != nullptr ? *reply : ignored, limits);
    return code >= 200 && code < 300 ? 0 : -1;
  } catch (const CHttpConnectException& e) {
    throw connectionFailure(e);
  }
}

long OHTTP::post(std::string_view message, icu::UnicodeString& status, std::string& reply,
                 const HttpPostLimits& limits) {
  reply.clear();
  Lease lease(*this);
  if (!pathUtf8Valid_) toUtf8(path_);
  thread_local std::string body;
  body.reserve(message.size() + 1);  // one allocation, not a doubling that leaves half behind
  body.assign(message);
  body += '\n';
  HttpReply& answer = exchangeAndShrink(lease, body, limits);
  status = fromTransport(answer.statusText);
  localRoundTrip(upToNul(answer.body), reply);
  keepSmall(answer.body);
  return answer.code;
}

HttpReply& OHTTP::exchangeAndShrink(Lease& lease, std::string& body, const HttpPostLimits& limits) {
  try {
    HttpReply& answer = exchange(lease, body, limits);
    keepSmall(body);
    return answer;
  } catch (...) {
    keepSmall(body);
    throw;
  }
}

HttpReply& OHTTP::exchange(Lease& lease, std::string_view body, const HttpPostLimits& limits) {
  // Reused from send to send on this thread: no allocation for a reply no larger than the last.
  thread_local HttpReply answer;
  try {
    lease.client().post(pathUtf8_, kContentType, body, limits, answer);
  } catch (const CHttpConnectException&) {
    throw;  // nothing was sent: the client goes back to the pool
  } catch (const CHttpException&) {
    // Whatever state the connection is in now cannot be trusted; the next send starts afresh. What a
    // huge reply grew before it failed goes back as after a good one.
    keepSmall(answer.body);
    lease.drop();
    throw;
  }
  return answer;
}

}  // namespace hcs
