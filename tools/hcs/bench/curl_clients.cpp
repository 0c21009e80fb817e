#include "bench/curl_clients.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>
#include <stdexcept>

namespace hcs::bench {
namespace {

// The plugin's default waits, so a service that stops answering fails a call instead of holding the
// benchmark.
constexpr long kConnectWaitMs = 10000;
constexpr auto kReplyWait = std::chrono::milliseconds(10000);

size_t gather(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// The options the plugin sets on an https handle: verification always on, its minimum version, its
// files and pins.
void setTlsOptions(CURL* easy, const CalloutSettings& tls) {
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(easy, CURLOPT_SSLVERSION, tls.tls13 ? CURL_SSLVERSION_TLSv1_3 : CURL_SSLVERSION_TLSv1_2);
  if (!tls.caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, tls.caFile.c_str());
  if (!tls.certFile.empty()) {
    curl_easy_setopt(easy, CURLOPT_SSLCERT, tls.certFile.c_str());
    curl_easy_setopt(easy, CURLOPT_SSLKEY, tls.keyFile.c_str());
  }
  if (!tls.pinnedPublicKey.empty())
    curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, tls.pinnedPublicKey.c_str());
}

}  // namespace

void CurlHeaders::append(const char* line) {
  curl_slist* const list = curl_slist_append(list_.get(), line);
  if (list == nullptr) throw std::bad_alloc();
  // The head of a list never changes once it has one; the first append makes it.
  if (list_ == nullptr) list_.reset(list);
}

CurlPoster::CurlPoster(const ServiceUrl& target) : easy_(curl_easy_init()) {
  if (easy_ == nullptr) throw std::runtime_error("curl_easy_init failed");
  headers_.append("Content-Type: text/xml; charset=UTF-8");
  headers_.append("Expect:");
  headers_.append("Accept:");
  CURL* easy = easy_.get();
  // libcurl copies every string it is given.
  curl_easy_setopt(easy, CURLOPT_URL, target.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, target.settings.tls ? "https" : "http");
  if (target.settings.tls) setTlsOptions(easy, target.settings);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_MAXCONNECTS, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectWaitMs);
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, gather);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply_);
}

void CurlPoster::prepare(std::string_view body) {
  curl_easy_setopt(easy_.get(), CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy_.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  reply_.clear();
}

bool CurlPoster::succeeded(CURLcode result) const {
  long status = 0;
  return result == CURLE_OK && curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
         status == 200;
}

CurlMultiClient::CurlMultiClient(const ServiceUrl& target) : CurlPoster(target), multi_(curl_multi_init()) {
  if (multi_ == nullptr) throw std::runtime_error("curl_multi_init failed");
  curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, 1L);
}

CurlMultiClient::~CurlMultiClient() = default;

bool CurlMultiClient::post(std::string_view body) {
  prepare(body);
  CURLM* multi = multi_.get();
  CURL* easy = easy_.get();
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return false;
  CURLcode result = CURLE_OK;
  // One clock read per turn, as the plugin's own loop reads it to bound the wait for the reply.
  const auto until = std::chrono::steady_clock::now() + kReplyWait;
  while (true) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_OUT_OF_MEMORY;
      break;
    }
    if (running == 0) {
      int queued = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) result = message->data.result;
      }
      break;
    }
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      result = CURLE_OPERATION_TIMEDOUT;
      break;
    }
    const auto waitMs = std::min<int64_t>(1000, std::chrono::ceil<std::chrono::milliseconds>(left).count());
    if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(waitMs), nullptr) != CURLM_OK) {
      result = CURLE_OUT_OF_MEMORY;
      break;
    }
  }
  curl_multi_remove_handle(multi, easy);
  return succeeded(result);
}

CurlEasyClient::CurlEasyClient(const ServiceUrl& target) : CurlPoster(target) {
  curl_easy_setopt(easy_.get(), CURLOPT_TIMEOUT_MS, kConnectWaitMs + static_cast<long>(kReplyWait.count()));
}

bool CurlEasyClient::post(std::string_view body) {
  prepare(body);
  return succeeded(curl_easy_perform(easy_.get()));
}

}  // namespace hcs::bench
