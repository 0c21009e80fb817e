#include "transport/curl_handles.h"

#include <curl/curl.h>

namespace hcs {

void CurlEasyCleanup::operator()(void* easy) const noexcept { curl_easy_cleanup(easy); }
void CurlMultiCleanup::operator()(void* multi) const noexcept { curl_multi_cleanup(multi); }
void CurlShareCleanup::operator()(void* share) const noexcept { curl_share_cleanup(share); }
void CurlListFree::operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }

bool appendHeader(CurlList& list, const char* line) {
  // On failure curl_slist_append returns null and leaves the list alone: it stays ours.
  curl_slist* longer = curl_slist_append(list.get(), line);
  if (longer == nullptr) return false;
  (void)list.release();
  list.reset(longer);
  return true;
}

}  // namespace hcs
