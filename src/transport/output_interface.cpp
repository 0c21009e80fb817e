#include "transport/output_interface.h"

#include "error/qrm_exception.h"
#include "transport/http_driver.h"

namespace hcs {

OInterface::~OInterface() = default;
OInterfaceDriver::~OInterfaceDriver() = default;

void sendOrThrow(OInterface& target, void* context, const icu::UnicodeString& message,
                 icu::UnicodeString* reply) {
  icu::UnicodeString status;
  if (target.send(context, message, status, reply) == 0) return;
  throw sendFailure(status);
}

QRM_Exception sendFailure(const icu::UnicodeString& status) {
  return QRM_Exception(
      "", QRM_Message(icu::UnicodeString(u"7302E"), icu::UnicodeString(u"Failed to send {0}."), status), 3,
      kSeverityCritical);
}

std::vector<OInterfaceDriver*>& driverRegistry() {
  static std::vector<OInterfaceDriver*> registry;
  // Entered here rather than by a registrar object elsewhere: a static library drops translation units
  // nobody references, and the driver must be there regardless.
  static OHTTPDriver httpDriver;
  static const bool httpEntered = (registry.push_back(&httpDriver), true);
  (void)httpEntered;
  return registry;
}

void registerDriver(OInterfaceDriver* driver) { driverRegistry().push_back(driver); }

namespace {
// Fills the list while the library loads, before any thread can look at it.
[[maybe_unused]] const bool kDriversAtLoad = (driverRegistry(), true);
}  // namespace

}  // namespace hcs
