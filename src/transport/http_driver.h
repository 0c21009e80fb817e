#pragma once

#include "transport/output_interface.h"

namespace hcs {

class OHTTP;

// Builds HTTP interfaces for http URIs. Stateless apart from the unused object bookkeeping; safe to
// call from several threads.
class OHTTPDriver : public OInterfaceDriver, IOObjectManager<OHTTP> {
 public:
  // Whether the URI's scheme is exactly "http" (case-sensitive). Never fails.
  bool accepts(const icu::UnicodeString& uri) override;
  // An OHTTP for `uri` with timeout 0 and HTTP/1.1; the URI is not checked (any scheme gets one).
  // The driver keeps no reference to it.
  std::unique_ptr<OInterface> create(const icu::UnicodeString& uri) override;
  ~OHTTPDriver() override;
};

}  // namespace hcs
