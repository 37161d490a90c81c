#include "host/variant.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/errors.h"

namespace tessaly::host {
namespace {

std::string DoubleToString(double d) {
  char buf[64];
  // Whole numbers below 1e15 are written out in full ("3000000000", not "3e+09"), as the
  // automation runtime writes them.
  const bool whole = std::isfinite(d) && std::fabs(d) < 1e15 && d == std::trunc(d);
  auto [end, ec] = whole ? std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed)
                         : std::to_chars(buf, buf + sizeof buf, d);
  if (ec != std::errc()) throw ConversionError("number cannot be converted to text");
  return std::string(buf, end);
}

std::int32_t RoundToInt32(double d) {
  if (!std::isfinite(d)) throw ConversionError("number is not finite");
  // nearbyint under the default rounding mode rounds halves to the even neighbour.
  const double r = std::nearbyint(d);
  if (r < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      r > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    throw ConversionError("overflow: " + DoubleToString(d) + " is outside the 32-bit range");
  }
  return static_cast<std::int32_t>(r);
}

double ParseNumber(const std::string& s) {
  std::size_t begin = s.find_first_not_of(" \t");
  std::size_t end = s.find_last_not_of(" \t");
  if (begin == std::string::npos)
    throw ConversionError("type mismatch: \"" + s + "\" is not a number");
  const char* first = s.data() + begin;
  const char* last = s.data() + end + 1;
  if (*first == '+') ++first;
  double d = 0;
  auto [ptr, ec] = std::from_chars(first, last, d, std::chars_format::general);
  if (ec != std::errc() || ptr != last || !std::isfinite(d)) {
    throw ConversionError("type mismatch: \"" + s + "\" is not a number");
  }
  return d;
}

}  // namespace

std::string Variant::ToString() const {
  struct Visitor {
    std::string operator()(Empty) const { return {}; }
    std::string operator()(Null) const { throw ConversionError("invalid use of Null"); }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(std::int32_t i) const { return std::to_string(i); }
    std::string operator()(double d) const { return DoubleToString(d); }
    std::string operator()(const std::string& s) const { return s; }
  };
  return std::visit(Visitor{}, value_);
}

std::int32_t Variant::ToInt32() const {
  struct Visitor {
    std::int32_t operator()(Empty) const { return 0; }
    std::int32_t operator()(Null) const { throw ConversionError("invalid use of Null"); }
    std::int32_t operator()(bool b) const { return b ? -1 : 0; }
    std::int32_t operator()(std::int32_t i) const { return i; }
    std::int32_t operator()(double d) const { return RoundToInt32(d); }
    std::int32_t operator()(const std::string& s) const { return RoundToInt32(ParseNumber(s)); }
  };
  return std::visit(Visitor{}, value_);
}

}  // namespace tessaly::host
