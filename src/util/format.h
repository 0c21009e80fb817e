#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include <unicode/unistr.h>

namespace hcs {

// One argument of a printf-style format, captured with its type so that the formatter can check it
// against the conversion that consumes it. Types without a constructor here do not compile; a
// conversion that does not fit its argument (%d with a string, %S with 8-bit text) throws the "0000E"
// QRM_Exception naming the format. Nothing ever reads an argument as another type.
//
// Holds references: a FormatArg must not outlive the argument it was made from.
class FormatArg {
 public:
  enum class Kind { Signed, Unsigned, Floating, Pointer, Narrow, Unicode };

  template <std::signed_integral T>
  FormatArg(T value) : kind_(Kind::Signed), size_(sizeof(T)), signed_(value) {}
  template <std::unsigned_integral T>
  requires(!std::same_as<T, bool>) FormatArg(T value)
      : kind_(Kind::Unsigned), size_(sizeof(T)), unsigned_(value) {}
  FormatArg(bool value) : kind_(Kind::Signed), size_(sizeof(int)), signed_(value ? 1 : 0) {}
  FormatArg(char value) : kind_(Kind::Signed), size_(sizeof(char)), signed_(value) {}
  FormatArg(double value) : kind_(Kind::Floating), floating_(value) {}
  FormatArg(float value) : kind_(Kind::Floating), floating_(value) {}
  // 8-bit text in the local code page; a null pointer formats as "(null)".
  FormatArg(const char* text) : kind_(Kind::Narrow), narrow_(text == nullptr ? "(null)" : text) {}
  FormatArg(const std::string& text) : kind_(Kind::Narrow), narrow_(text) {}
  FormatArg(std::string_view text) : kind_(Kind::Narrow), narrow_(text) {}
  FormatArg(const icu::UnicodeString& text) : kind_(Kind::Unicode), unicode_(&text) {}
  FormatArg(const void* pointer) : kind_(Kind::Pointer), pointer_(pointer) {}

  Kind kind() const { return kind_; }
  // Size in bytes of the integer the argument came from: %x of -1 as int gives ffffffff, as in C.
  unsigned size() const { return size_; }
  long long asSigned() const { return signed_; }
  unsigned long long asUnsigned() const { return unsigned_; }
  double asFloating() const { return floating_; }
  const void* asPointer() const { return pointer_; }
  std::string_view asNarrow() const { return narrow_; }
  const icu::UnicodeString& asUnicode() const { return *unicode_; }

 private:
  Kind kind_;
  unsigned size_ = 0;
  union {
    long long signed_;
    unsigned long long unsigned_;
    double floating_;
    const void* pointer_;
    const icu::UnicodeString* unicode_;
  };
  std::string_view narrow_;
};

using FormatArgs = std::span<const FormatArg>;

// Formats into 8-bit text: C printf conversions, plus %S for a UnicodeString converted to the local
// code page and %s for 8-bit text. `out` is replaced by the whole result, however long. Returns the
// length in bytes. Throws the "0000E" QRM_Exception on a conversion its argument does not fit, on a
// missing argument, and on %n.
int vformatString(std::string& out, std::string_view format, FormatArgs args);

// The same into UTF-16: %S inserts a UnicodeString as it is, %s converts 8-bit text from the local
// code page. Returns the length in UTF-16 units.
int vformatUnicode(icu::UnicodeString& out, std::u16string_view format, FormatArgs args);

template <class... Args>
int formatString(std::string& out, std::string_view format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return vformatString(out, format, FormatArgs(list, sizeof...(Args)));
}

template <class... Args>
int formatUnicode(icu::UnicodeString& out, std::u16string_view format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return vformatUnicode(out, format, FormatArgs(list, sizeof...(Args)));
}

// How many format calls this thread has made; lets tests prove that a path formats nothing.
uint64_t formatCallCount();

}  // namespace hcs
