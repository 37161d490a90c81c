#include "data/value.h"

#include <charconv>

#include "base/errors.h"

namespace tessaly::data {

std::string Value::ToText() const {
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const {
      char buf[64];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
      return ec == std::errc() ? std::string(buf, end) : std::string();
    }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const Blob& b) const { return b.bytes; }
  };
  return std::visit(Visitor{}, v_);
}

std::int64_t Value::ToInt() const {
  if (const auto* i = std::get_if<std::int64_t>(&v_)) return *i;
  const std::string text = ToText();
  std::int64_t out = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) {
    throw DataError("value \"" + text + "\" is not a whole number");
  }
  return out;
}

void AppendJsonString(std::string& json, std::string_view text) {
  json += '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      json += "\\u00";
      json += kHex[byte >> 4];
      json += kHex[byte & 15];
    } else {
      json += c;
    }
  }
  json += '"';
}

}  // namespace tessaly::data
