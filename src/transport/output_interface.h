#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include <unicode/unistr.h>

namespace hcs {

// One destination the system delivers message texts to and gets a reply from. Interfaces are owned by
// whoever created them and deleted through this class.
class OInterface {
 public:
  virtual ~OInterface();

  // Delivers `message` and waits for the reply. `status` receives the transport's status text of the
  // reply; `reply`, when given, the reply text. `context` is for interfaces that need one; none does.
  // Returns 0 when the message was delivered and the reply reports success, -1 otherwise. Transport
  // failures may also leave as exceptions; each implementation says which.
  virtual int32_t send(void* context, const icu::UnicodeString& message, icu::UnicodeString& status,
                       icu::UnicodeString* reply) = 0;

  // Session hooks for interfaces that need them; nothing calls them yet.
  virtual void open() = 0;
  virtual void close() = 0;
  virtual void flush() = 0;
};

// Sends `message` through `target` with a fresh status text. A result other than 0 becomes the "7302E"
// QRM_Exception "Failed to send <status text>." (entry 3, severity 4); exceptions from `send` pass
// through unchanged.
void sendOrThrow(OInterface& target, void* context, const icu::UnicodeString& message,
                 icu::UnicodeString* reply);

// The "7302E" record sendOrThrow throws for a delivery that failed with `status`.
class QRM_Exception;
QRM_Exception sendFailure(const icu::UnicodeString& status);

// Recognises destination URIs and builds interfaces for them.
class OInterfaceDriver {
 public:
  virtual bool accepts(const icu::UnicodeString& uri) = 0;
  // A new interface for `uri`, owned by the caller.
  virtual std::unique_ptr<OInterface> create(const icu::UnicodeString& uri) = 0;
  virtual ~OInterfaceDriver();
};

// Bookkeeping a driver may keep about the objects it made. Nothing fills it yet.
template <typename T>
class IOObjectManager {
 public:
  std::list<T*> objects;
  bool managed = false;
};

// The process-wide driver list. The HTTP driver is in it from the first use on (and the library enters
// it at load). Drivers are not owned by the list and live until the process ends.
// Written only while the library loads; reading it concurrently is safe after that.
std::vector<OInterfaceDriver*>& driverRegistry();

// Appends `driver` to driverRegistry (no duplicate check). Not synchronised.
void registerDriver(OInterfaceDriver* driver);

}  // namespace hcs
