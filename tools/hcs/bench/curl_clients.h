#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <curl/curl.h>

#include "bench/service_url.h"

namespace hcs::bench {

// Owners of libcurl handles: each frees its handle when it ends, on every path.
struct CurlEasyFree {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlMultiFree {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyFree>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiFree>;

// A request header list. append throws std::bad_alloc when libcurl cannot add a line; the lines
// already there stay in the list and are freed with it.
class CurlHeaders {
 public:
  void append(const char* line);
  curl_slist* get() const { return list_.get(); }

 private:
  struct Free {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };
  std::unique_ptr<curl_slist, Free> list_;
};

// What both libcurl baselines share: one easy handle set up once, the headers the plugin sends (no
// Expect, no Accept, its Content-Type), the reply body gathered into a buffer kept between posts, the
// plugin's default waits (10 s to connect, 10 s for the reply) and over https its TLS options. The
// handle keeps its own TLS session cache, so a new connection resumes the last session as the
// plugin's handles do through their shared one.
class CurlPoster {
 public:
  // Throws std::runtime_error when libcurl cannot make a handle.
  explicit CurlPoster(const ServiceUrl& target);

 protected:
  // Sets the body of the next post.
  void prepare(std::string_view body);
  // Whether the transfer that ended with `result` brought a 200.
  bool succeeded(CURLcode result) const;

  CurlHeaders headers_;
  std::string reply_;
  CurlEasy easy_;
};

// libcurl driven as the plugin drives it: the easy handle on a multi handle of its own, added for each
// post and taken out after it, curl_multi_perform and curl_multi_poll in turn until the transfer ends.
// The multi handle keeps the connection between posts. One thread at a time.
class CurlMultiClient : public CurlPoster {
 public:
  explicit CurlMultiClient(const ServiceUrl& target);
  ~CurlMultiClient();
  bool post(std::string_view body);

 private:
  // Ends before the easy handle of the base (a derived class's members end first): the multi handle
  // holds the connection and may still refer to the easy handle.
  CurlMulti multi_;
};

// libcurl's own loop: curl_easy_perform on one easy handle, which keeps the connection between posts.
class CurlEasyClient : public CurlPoster {
 public:
  explicit CurlEasyClient(const ServiceUrl& target);
  bool post(std::string_view body);
};

}  // namespace hcs::bench
