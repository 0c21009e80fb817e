#include "transport/http_driver.h"

#include "transport/http_interface.h"
#include "util/uri.h"

namespace hcs {

bool OHTTPDriver::accepts(const icu::UnicodeString& uri) { return CUri(uri).scheme == u"http"; }

std::unique_ptr<OInterface> OHTTPDriver::create(const icu::UnicodeString& uri) {
  return std::make_unique<OHTTP>(CUri(uri), 0, 1);
}

OHTTPDriver::~OHTTPDriver() = default;

}  // namespace hcs
