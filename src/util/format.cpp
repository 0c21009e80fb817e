#include "util/format.h"

#include <climits>
#include <cstdio>
#include <string>

#include "error/qrm_exception.h"
#include "util/numbers.h"
#include "util/ucstring.h"

namespace hcs {

namespace {

thread_local uint64_t tFormatCalls = 0;

// One parsed conversion: %[flags][width][.precision][length]conversion.
struct Conversion {
  std::string flags;
  int width = -1;  // -1: none
  int precision = -1;
  char conversion = 0;
};

[[noreturn]] void formatError(const char* what, char conversion) {
  std::string text = std::string("Format error: ") + what;
  if (conversion != 0) {
    text += " for %";
    text += conversion;
  }
  throw QRM_Exception("", UCString(text), 0, kSeverityCritical);
}

// Output into 8-bit text.
struct NarrowSink {
  std::string& out;
  void ascii(const char* text, size_t length) { out.append(text, length); }
  void literal(char c) { out.push_back(c); }
  void narrow(std::string_view text, const Conversion& c) { padded(std::string(text), c); }
  void unicode(const icu::UnicodeString& text, const Conversion& c) { padded(toStdString(text), c); }
  void codePoint(long long value, const Conversion& c) {
    padded(std::string(1, static_cast<char>(value)), c);
  }
  void padded(std::string piece, const Conversion& c) {
    if (c.precision >= 0 && piece.size() > static_cast<size_t>(c.precision)) piece.resize(c.precision);
    const size_t pad =
        c.width > 0 && piece.size() < static_cast<size_t>(c.width) ? c.width - piece.size() : 0;
    if (c.flags.find('-') == std::string::npos) out.append(pad, ' ');
    out += piece;
    if (c.flags.find('-') != std::string::npos) out.append(pad, ' ');
  }
  int length() const { return static_cast<int>(out.size()); }
};

// Output into UTF-16 text.
struct UnicodeSink {
  icu::UnicodeString& out;
  void ascii(const char* text, size_t length) {
    out.append(icu::UnicodeString(text, static_cast<int32_t>(length), icu::UnicodeString::kInvariant));
  }
  void literal(char16_t c) { out.append(static_cast<UChar>(c)); }
  void narrow(std::string_view text, const Conversion& c) {
    icu::UnicodeString piece;
    appendLocal(piece, text);
    padded(piece, c);
  }
  void unicode(const icu::UnicodeString& text, const Conversion& c) { padded(text, c); }
  void codePoint(long long value, const Conversion& c) {
    padded(icu::UnicodeString(static_cast<UChar32>(value)), c);
  }
  void padded(const icu::UnicodeString& piece, const Conversion& c) {
    int32_t length = piece.length();
    if (c.precision >= 0 && length > c.precision) length = c.precision;
    const int32_t pad = c.width > length ? c.width - length : 0;
    const bool left = c.flags.find('-') != std::string::npos;
    if (!left) out.padTrailing(out.length() + pad, u' ');
    out.append(piece, 0, length);
    if (left) out.padTrailing(out.length() + pad, u' ');
  }
  int length() const { return out.length(); }
};

// Formats one number with the C library: the conversion is rebuilt with the length modifier that
// matches how the value is passed, so the C library never reads a different type.
template <class Sink, class T>
void cNumber(Sink& sink, const Conversion& c, const char* lengthModifier, T value) {
  std::string spec(1, '%');
  spec += c.flags;
  if (c.width >= 0) spec += std::to_string(c.width);
  if (c.precision >= 0) spec.append(1, '.').append(std::to_string(c.precision));
  spec += lengthModifier;
  spec += c.conversion;
  char small[128];
  int n = std::snprintf(small, sizeof small, spec.c_str(), value);
  if (n < 0) formatError("C library failure", c.conversion);
  if (static_cast<size_t>(n) < sizeof small) {
    sink.ascii(small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), spec.c_str(), value);
  sink.ascii(big.data(), static_cast<size_t>(n));
}

unsigned long long asUnsignedOfSize(const FormatArg& arg) {
  const unsigned long long raw = arg.kind() == FormatArg::Kind::Signed
                                     ? static_cast<unsigned long long>(arg.asSigned())
                                     : arg.asUnsigned();
  switch (arg.size()) {
    case 1:
      return static_cast<unsigned char>(raw);
    case 2:
      return static_cast<unsigned short>(raw);
    case 4:
      return static_cast<uint32_t>(raw);
    default:
      return raw;
  }
}

template <class Sink>
void convert(Sink& sink, const Conversion& c, const FormatArg& arg) {
  using K = FormatArg::Kind;
  const bool integral = arg.kind() == K::Signed || arg.kind() == K::Unsigned;
  switch (c.conversion) {
    case 'd':
    case 'i':
      if (!integral) formatError("argument is not an integer", c.conversion);
      cNumber(sink, c, "ll",
              arg.kind() == K::Signed ? arg.asSigned() : static_cast<long long>(arg.asUnsigned()));
      return;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      if (!integral) formatError("argument is not an integer", c.conversion);
      cNumber(sink, c, "ll", asUnsignedOfSize(arg));
      return;
    case 'c':
      if (!integral) formatError("argument is not a character", c.conversion);
      sink.codePoint(arg.kind() == K::Signed ? arg.asSigned() : static_cast<long long>(arg.asUnsigned()), c);
      return;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      if (arg.kind() != K::Floating) formatError("argument is not a floating-point number", c.conversion);
      cNumber(sink, c, "", arg.asFloating());
      return;
    case 'p':
      if (arg.kind() != K::Pointer) formatError("argument is not a pointer", c.conversion);
      cNumber(sink, c, "", arg.asPointer());
      return;
    case 's':
      if (arg.kind() != K::Narrow) formatError("argument is not 8-bit text", c.conversion);
      sink.narrow(arg.asNarrow(), c);
      return;
    case 'S':
      if (arg.kind() != K::Unicode) formatError("argument is not a Unicode string", c.conversion);
      sink.unicode(arg.asUnicode(), c);
      return;
    default:
      formatError("unsupported conversion", c.conversion);
  }
}

// The arguments in the order the conversions and their '*' widths take them.
class ArgCursor {
 public:
  explicit ArgCursor(FormatArgs args) : args_(args) {}

  const FormatArg& take(char conversion) {
    if (next_ >= args_.size()) formatError("missing argument", conversion);
    return args_[next_++];
  }

  int takeInt(char conversion) {
    const FormatArg& a = take(conversion);
    if (a.kind() != FormatArg::Kind::Signed && a.kind() != FormatArg::Kind::Unsigned) {
      formatError("'*' argument is not an integer", conversion);
    }
    // The value must fit an int with its negation, since a negative width is a left-justified one.
    const bool fits = a.kind() == FormatArg::Kind::Signed
                          ? a.asSigned() >= -INT_MAX && a.asSigned() <= INT_MAX
                          : a.asUnsigned() <= INT_MAX;
    if (!fits) formatError("width or precision too large", conversion);
    return static_cast<int>(a.kind() == FormatArg::Kind::Signed ? a.asSigned() : a.asUnsigned());
  }

 private:
  FormatArgs args_;
  size_t next_ = 0;
};

// Widths and precisions stop near a billion; a larger one would only ask for gigabytes of text.
constexpr int64_t kMaxWidth = 1'000'000'009;

// A width or precision at format[i], in digits or '*'; `into` keeps its value when there is none.
template <class Ch>
void readWidth(std::basic_string_view<Ch> format, size_t& i, ArgCursor& args, int& into) {
  if (i < format.size() && format[i] == Ch('*')) {
    ++i;
    into = args.takeInt('*');
    return;
  }
  size_t end = i;
  while (end < format.size() && format[end] >= Ch('0') && format[end] <= Ch('9')) ++end;
  if (end == i) return;
  const StrictNumber width = readStrict(format.substr(i, end - i), {.high = kMaxWidth});
  if (!width) formatError("width or precision too large", 0);
  into = static_cast<int>(width.value);
  i = end;
}

// The conversion that starts after a '%' at format[i]: flags, width, precision and length modifiers are
// read, and `i` is left on the conversion character.
template <class Ch>
Conversion readConversion(std::basic_string_view<Ch> format, size_t& i, ArgCursor& args) {
  const size_t n = format.size();
  Conversion c;
  while (i < n && (format[i] == Ch('-') || format[i] == Ch('+') || format[i] == Ch(' ') ||
                   format[i] == Ch('#') || format[i] == Ch('0'))) {
    c.flags.push_back(static_cast<char>(format[i++]));
  }
  readWidth(format, i, args, c.width);
  if (c.width < 0 && c.width != -1) {  // a negative '*' width means left-justified, as in C
    c.flags.push_back('-');
    c.width = -c.width;
  }
  if (i < n && format[i] == Ch('.')) {
    ++i;
    c.precision = 0;
    readWidth(format, i, args, c.precision);
    if (c.precision < 0) c.precision = -1;
  }
  // Length modifiers describe how C would pass the argument; here the argument carries its type.
  while (i < n &&
         (format[i] == Ch('h') || format[i] == Ch('l') || format[i] == Ch('L') || format[i] == Ch('j') ||
          format[i] == Ch('z') || format[i] == Ch('t') || format[i] == Ch('q'))) {
    ++i;
  }
  if (i >= n) formatError("format ends inside a conversion", 0);
  if (format[i] > Ch(0x7f)) formatError("unsupported conversion", '?');
  c.conversion = static_cast<char>(format[i]);
  if (c.conversion == 'n') formatError("%n is not supported", 0);
  return c;
}

template <class Ch, class Sink>
void formatInto(Sink& sink, std::basic_string_view<Ch> format, FormatArgs list) {
  ++tFormatCalls;
  ArgCursor args(list);
  for (size_t i = 0; i < format.size(); ++i) {
    const Ch ch = format[i];
    if (ch != Ch('%')) {
      sink.literal(ch);
      continue;
    }
    if (++i >= format.size()) formatError("format ends inside a conversion", 0);
    if (format[i] == Ch('%')) {
      sink.literal(ch);
      continue;
    }
    const Conversion c = readConversion(format, i, args);
    convert(sink, c, args.take(c.conversion));
  }
}

}  // namespace

int vformatString(std::string& out, std::string_view format, FormatArgs args) {
  std::string result;
  result.reserve(format.size() + 80);
  NarrowSink sink{result};
  formatInto<char>(sink, format, args);
  out = std::move(result);
  return static_cast<int>(out.size());
}

int vformatUnicode(icu::UnicodeString& out, std::u16string_view format, FormatArgs args) {
  icu::UnicodeString result;
  UnicodeSink sink{result};
  formatInto<char16_t>(sink, format, args);
  out = std::move(result);
  return out.length();
}

uint64_t formatCallCount() { return tFormatCalls; }

}  // namespace hcs
