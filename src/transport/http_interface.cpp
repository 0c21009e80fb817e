#include "transport/http_interface.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "error/qrm_exception.h"
#include "metrics/callout_metrics.h"
#include "util/kept_buffer.h"
#include "util/numbers.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace hcs {
namespace {

constexpr std::string_view kContentType = "text/xml; charset=UTF-8";

int32_t retriesFrom(const CUri& uri, bool& capped) {
  icu::UnicodeString value;
  if (!uri.findParam(icu::UnicodeString(u"retries"), value)) return OHTTP::kDefaultRetries;
  int32_t significant = 0;  // digits after the leading zeros: more than three is past the cap
  for (int32_t i = 0; i < value.length(); ++i) {
    const UChar c = value.charAt(i);
    if (!u_isdigit(c)) return OHTTP::kDefaultRetries;
    if (significant > 0 || u_charDigitValue(c) != 0) ++significant;
  }
  capped = significant > 3 || parseInt(value) > OHTTP::kMaxRetries;
  return capped ? OHTTP::kMaxRetries : parseInt(value);
}

}  // namespace

int32_t OHTTP::retriesOf(const CUri& uri, bool& capped) { return retriesFrom(uri, capped); }

namespace {

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
  explicit Lease(OHTTP& owner) : owner_(owner) {
    try {
      client_ = owner.takeClient();
    } catch (const CHttpConnectException& e) {
      throw connectionFailure(e);
    }
  }
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
    : OHTTP(uri, CalloutPolicy::defaults(timeoutMs), versionSelector) {}

OHTTP::OHTTP(const CUri& uri, const CalloutPolicy& policy, int32_t versionSelector,
             const std::string& typeName, CalloutMetrics* metrics, CallTime* time)
    : policy_(policy),
      metrics_(metrics),
      time_(time),
      path_(isHttpScheme(uri) ? uri.target : uri.path),
      pathUtf8Valid_(toUtf8(path_, pathUtf8_)),
      timeout_(policy.replyTimeoutMs),
      retries_(retriesFrom(uri, retriesCapped_)),
      versionMinor_(minorVersionFor(versionSelector)),
      endpoint_(toUtf8(uri.host), httpPort(uri), versionMinor_, policy.connectTimeoutMs,
                policy.replyTimeoutMs),
      poolGeneration_(forkGeneration()) {
  if (policy.breakerCalls > 0) {
    breaker_ =
        std::make_unique<CircuitBreaker>(policy.breakerCalls, std::chrono::milliseconds(policy.breakerWaitMs),
                                         "ATTR_TYPE [" + typeName + "] " + toUtf8(uri.text), metrics);
  }
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
    if (idle_.size() < kMaxIdleClients) {
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
  return send(message, status, reply, HttpPostLimits{});
}

int32_t OHTTP::send(const icu::UnicodeString& message, icu::UnicodeString& status, icu::UnicodeString* reply,
                    const HttpPostLimits& limits) {
  if (reply != nullptr) reply->remove();
  Lease lease(*this);
  if (!pathUtf8Valid_) toUtf8(path_);  // throws the conversion's record, as every send does
  std::string body = toUtf8(message);
  body += '\n';
  HttpReply& answer = exchange(lease, body, limits);
  status = fromTransport(answer.statusText);
  if (reply != nullptr) *reply = fromTransport(answer.body);
  keepSmall(answer.body);
  return answer.is2xx() ? 0 : -1;
}

int32_t OHTTP::sendUtf8(std::string_view message, icu::UnicodeString& status, std::string* reply,
                        const HttpPostLimits& limits) {
  if (reply != nullptr) reply->clear();
  Lease lease(*this);
  if (!pathUtf8Valid_) toUtf8(path_);
  thread_local std::string body;
  body.assign(message);
  body += '\n';
  HttpReply& answer = exchangeAndShrink(lease, body, limits);
  status = fromTransport(answer.statusText);
  if (reply != nullptr) localRoundTrip(upToNul(answer.body), *reply);
  keepSmall(answer.body);
  return answer.is2xx() ? 0 : -1;
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
  } catch (const CHttpConnectException& e) {
    throw connectionFailure(e);
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
