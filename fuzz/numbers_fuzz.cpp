// parseInt on arbitrary text, toUtf8/toStdString on arbitrary UTF-16, localRoundTrip on arbitrary bytes
// against the trip through UTF-16, and the formatters with a fixed set of well-formed formats and
// fuzzed arguments. A conversion its argument does not fit throws the documented "0000E" record (so do
// invalid UTF-16 in toUtf8 and a missing argument); anything else must format. The strict and lenient
// number rules are checked against each other.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "error/qrm_exception.h"
#include "fuzz_support.h"
#include "util/format.h"
#include "util/numbers.h"
#include "util/ucstring.h"

namespace {

// Each format with the kinds of argument it takes, in order: i signed, u unsigned, c char, f floating,
// p pointer, s 8-bit text, S Unicode text, w a '*' width or precision.
struct Format {
  const char* text;
  const char* kinds;
};

constexpr Format kFormats[] = {
    {"%d", "i"},
    {"%5i|%-5d|%+d|% d|%05d", "iiiii"},
    {"%x %X %o %u|%#x|%#o", "uuuuuu"},
    {"%lld %llu %hd %hhu %zu", "iuiuu"},
    {"%c|%3c|%-2c", "ccc"},
    {"%f %e %g", "fff"},
    {"%.3f|%10.2e|%-12.5g|%+.0f|%#g", "fffff"},
    {"%a %A %G %E %F", "fffff"},
    {"%p|%20p", "pp"},
    {"%s", "s"},
    {"%.2s|%-8s|%8.3s", "sss"},
    {"%S", "S"},
    {"%-6S|%3.1S|%.0S", "SSS"},
    {"%*d|%-*u", "wiwu"},
    {"%-*.*s", "wws"},
    {"%.*f|%*.*e", "wfwwf"},
    {"%*.*S", "wwS"},
    {"<ERROR>%s [%S] (%d)</ERROR>", "sSi"},
    {"100%% %s%%", "s"},
    {"no conversion at all", ""},
};

// Argument values live here, where the FormatArgs that refer to them can reach them.
struct Arguments {
  std::deque<std::string> narrow;
  std::deque<icu::UnicodeString> unicode;
  std::vector<hcs::FormatArg> list;
};

// Widths and precisions are the caller's own numbers; a huge one only asks for a huge text (which the
// formatter hands back whole), so keep them small, apart from the values beyond what an int holds.
void addWidth(FuzzedDataProvider& in, Arguments& args) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
      args.list.emplace_back(INT_MIN);
      return;
    case 1:
      args.list.emplace_back(int64_t{INT_MAX} + in.ConsumeIntegralInRange<int64_t>(1, 1 << 20));
      return;
    case 2:
      args.list.emplace_back(in.ConsumeIntegralInRange<uint32_t>(uint32_t{INT_MAX} + 1, UINT32_MAX));
      return;
    default:
      args.list.emplace_back(in.ConsumeIntegralInRange(-300, 300));
      return;
  }
}

void addSigned(FuzzedDataProvider& in, Arguments& args) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      args.list.emplace_back(in.ConsumeIntegral<int8_t>());
      return;
    case 1:
      args.list.emplace_back(in.ConsumeIntegral<int16_t>());
      return;
    case 2:
      args.list.emplace_back(in.ConsumeIntegral<int32_t>());
      return;
    default:
      args.list.emplace_back(in.ConsumeIntegral<int64_t>());
      return;
  }
}

void addUnsigned(FuzzedDataProvider& in, Arguments& args) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      args.list.emplace_back(in.ConsumeIntegral<uint8_t>());
      return;
    case 1:
      args.list.emplace_back(in.ConsumeIntegral<uint16_t>());
      return;
    case 2:
      args.list.emplace_back(in.ConsumeIntegral<uint32_t>());
      return;
    case 3:
      args.list.emplace_back(in.ConsumeBool());
      return;
    default:
      args.list.emplace_back(in.ConsumeIntegral<uint64_t>());
      return;
  }
}

void addArgument(FuzzedDataProvider& in, char kind, Arguments& args) {
  switch (kind) {
    case 'i':
      addSigned(in, args);
      return;
    case 'u':
      addUnsigned(in, args);
      return;
    case 'c':
      args.list.emplace_back(in.ConsumeIntegral<char>());
      return;
    case 'f':
      if (in.ConsumeBool()) {
        args.list.emplace_back(in.ConsumeFloatingPoint<double>());
      } else {
        args.list.emplace_back(in.ConsumeFloatingPoint<float>());
      }
      return;
    case 'p':
      args.list.emplace_back(reinterpret_cast<const void*>(in.ConsumeIntegral<uintptr_t>()));
      return;
    case 's':
      if (in.ConsumeIntegralInRange(0, 7) == 0) {
        args.list.emplace_back(static_cast<const char*>(nullptr));
      } else {
        args.list.emplace_back(args.narrow.emplace_back(in.ConsumeRandomLengthString(64)));
      }
      return;
    case 'S': {
      const std::string units = in.ConsumeRandomLengthString(128);
      args.list.emplace_back(args.unicode.emplace_back(
          hcs::fuzz::asUtf16Units(reinterpret_cast<const uint8_t*>(units.data()), units.size())));
      return;
    }
    case 'w':
      addWidth(in, args);
      return;
  }
}

// A text the strict rule takes is read alike by the lenient rule with the same digits and sign; the
// strict value keeps to its range, a refusal has none, and the wrapping lenient rule stays in 32 bits.
void numberRules(FuzzedDataProvider& in, const icu::UnicodeString& text) {
  using hcs::DigitSet;
  const auto digits = in.PickValueInArray({DigitSet::kAscii, DigitSet::kUnicodeUnits, DigitSet::kUnicode});
  const hcs::StrictRule strict{.low = in.ConsumeIntegral<int64_t>(),
                               .high = in.ConsumeIntegral<int64_t>(),
                               .maxDigits = in.ConsumeIntegralInRange(0, 25),
                               .minus = in.ConsumeBool(),
                               .digits = digits};
  const hcs::StrictNumber number = hcs::readStrict(text, strict);
  if (number ? number.value < strict.low || number.value > strict.high : number.value != 0) __builtin_trap();
  const hcs::LenientNumber wide = hcs::readLenient(
      text, {.digits = digits, .minus = strict.minus, .overflow = hcs::LenientRule::Overflow::kSaturate64});
  if (number && (wide.value != number.value || wide.overflow)) __builtin_trap();
  const hcs::LenientNumber narrow = hcs::readLenient(text, {.digits = digits, .plus = in.ConsumeBool()});
  if (narrow.value < INT32_MIN || narrow.value > INT32_MAX || narrow.overflow) __builtin_trap();
}

void formatOnce(FuzzedDataProvider& in) {
  const Format& format = kFormats[in.ConsumeIntegralInRange<size_t>(0, std::size(kFormats) - 1)];
  Arguments args;
  const std::string kinds = format.kinds;
  for (char kind : kinds) {
    // Now and then an argument of the wrong kind: the formatter has to refuse it, not misread it. A
    // width stays small or becomes a non-integer, since any int there is a width (see addWidth).
    if (in.ConsumeIntegralInRange(0, 15) == 0) {
      kind =
          kind == 'w' ? "fpsS"[in.ConsumeIntegralInRange(0, 3)] : "iucfpsSw"[in.ConsumeIntegralInRange(0, 7)];
    }
    addArgument(in, kind, args);
  }
  if (!args.list.empty() && in.ConsumeIntegralInRange(0, 15) == 0) args.list.pop_back();

  try {
    std::string narrow;
    const int length = hcs::vformatString(narrow, format.text, args.list);
    if (length != static_cast<int>(narrow.size())) __builtin_trap();
  } catch (const hcs::QRM_Exception&) {
  }
  try {
    std::u16string wide(format.text, format.text + std::char_traits<char>::length(format.text));
    icu::UnicodeString unicode;
    const int length = hcs::vformatUnicode(unicode, wide, args.list);
    if (length != unicode.length()) __builtin_trap();
  } catch (const hcs::QRM_Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hcs::parseInt(hcs::fuzz::asLocalText(data, size));
  const icu::UnicodeString units = hcs::fuzz::asUtf16Units(data, size);
  hcs::parseInt(units);
  hcs::toStdString(units);
  try {
    hcs::toUtf8(units);
  } catch (const hcs::QRM_Exception&) {
    // Invalid UTF-16: documented.
  }
  // Reply bytes reach the host exactly as the trip through UTF-16 would leave them.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string direct;
  hcs::localRoundTrip(bytes, direct);
  if (direct != hcs::toStdString(hcs::UCString(bytes))) __builtin_trap();

  FuzzedDataProvider in(data, size);
  numberRules(in, units);
  for (int i = 0; i < 4 && in.remaining_bytes() > 0; ++i) formatOnce(in);
  return 0;
}
