#pragma once

#include <memory>

struct curl_slist;

namespace hcs {

// Owners of libcurl's handles: each frees its handle when it goes, on every path, so none can leak or
// be freed twice. libcurl's CURL and CURLM are void, so these hold void pointers and curl.h is needed
// only where the handles are used. A multi handle must go before the easy handles it served: declare
// it after them.
struct CurlEasyCleanup {
  void operator()(void* easy) const noexcept;
};
struct CurlMultiCleanup {
  void operator()(void* multi) const noexcept;
};
struct CurlShareCleanup {
  void operator()(void* share) const noexcept;
};
struct CurlListFree {
  void operator()(curl_slist* list) const noexcept;
};
using CurlEasy = std::unique_ptr<void, CurlEasyCleanup>;
using CurlMulti = std::unique_ptr<void, CurlMultiCleanup>;
// A share handle must outlive every easy handle that uses it.
using CurlShare = std::unique_ptr<void, CurlShareCleanup>;
using CurlList = std::unique_ptr<curl_slist, CurlListFree>;

// Appends a copy of `line` to `list`; false, with the list as it was, when libcurl has no memory.
bool appendHeader(CurlList& list, const char* line);

}  // namespace hcs
