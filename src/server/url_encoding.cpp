#include "server/url_encoding.h"

#include "base/ascii.h"

namespace tessaly::server {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the escape at text[i] ('%') if it is a good one.
std::optional<char> EscapeAt(std::string_view text, std::size_t i) {
  if (i + 2 >= text.size()) return std::nullopt;
  int high = HexValue(text[i + 1]);
  int low = HexValue(text[i + 2]);
  if (high < 0 || low < 0) return std::nullopt;
  return static_cast<char>(high * 16 + low);
}

// Walks `text` decoding it; a bad escape is kept as it stands.
template <typename Sink>
void DecodeLenient(std::string_view text, bool plus_is_space, Sink&& sink) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (auto decoded = EscapeAt(text, i)) {
        sink(*decoded);
        i += 2;
        continue;
      }
    } else if (c == '+' && plus_is_space) {
      c = ' ';
    }
    sink(c);
  }
}

std::string DecodeToString(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  DecodeLenient(text, plus_is_space, [&out](char c) { out.push_back(c); });
  return out;
}

// Compares the decoded form of `encoded` with `plain` without building it.
bool DecodedEquals(std::string_view encoded, std::string_view plain) {
  std::size_t pos = 0;
  bool equal = true;
  DecodeLenient(encoded, true, [&](char c) {
    if (!equal) return;
    if (pos >= plain.size() || plain[pos] != c) {
      equal = false;
      return;
    }
    ++pos;
  });
  return equal && pos == plain.size();
}

void AppendJoined(std::optional<std::string>& joined, std::string_view encoded_value) {
  if (joined) {
    joined->append(", ");
  } else {
    joined.emplace();
  }
  DecodeLenient(encoded_value, true, [&joined](char c) { joined->push_back(c); });
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<RequestTarget> SplitRequestTarget(std::string_view target) {
  RequestTarget parts;
  if (!target.starts_with('/')) {
    std::size_t scheme = 0;
    if (ascii::StartsWithNoCase(target, "http://")) {
      scheme = 7;
    } else if (ascii::StartsWithNoCase(target, "https://")) {
      scheme = 8;
    } else {
      return std::nullopt;
    }
    target.remove_prefix(scheme);
    parts.authority = target.substr(0, target.find_first_of("/?"));
    target.remove_prefix(parts.authority.size());
    // A host: a name, an IPv4 address or an [IPv6 address], and a port.
    constexpr std::string_view kHostCharacters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!$&'()*+,;=:[]%";
    if (parts.authority.empty() ||
        parts.authority.find_first_not_of(kHostCharacters) != std::string_view::npos) {
      return std::nullopt;
    }
  }
  const std::size_t question = target.find('?');
  parts.path = target.substr(0, question);
  if (parts.path.empty()) parts.path = "/";
  if (question != std::string_view::npos) parts.query = target.substr(question + 1);
  return parts;
}

bool HasValidEscapes(std::string_view text) {
  for (std::size_t i = text.find('%'); i != std::string_view::npos; i = text.find('%', i + 3)) {
    if (!EscapeAt(text, i)) return false;
  }
  return true;
}

std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space) {
  if (!HasValidEscapes(text)) return std::nullopt;
  return DecodeToString(text, plus_is_space);
}

std::optional<std::string> FindFormItem(std::string_view encoded, std::string_view name) {
  std::optional<std::string> joined;
  while (!encoded.empty()) {
    std::size_t end = encoded.find('&');
    std::string_view pair = encoded.substr(0, end);
    encoded = end == std::string_view::npos ? std::string_view() : encoded.substr(end + 1);
    if (pair.empty()) continue;
    std::size_t eq = pair.find('=');
    std::string_view key = pair.substr(0, eq);
    if (!DecodedEquals(key, name)) continue;
    AppendJoined(joined, eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
  }
  return joined;
}

std::optional<std::string> FindCookie(std::string_view header, std::string_view name) {
  std::optional<std::string> joined;
  while (!header.empty()) {
    std::size_t end = header.find(';');
    std::string_view pair = TrimSpaces(header.substr(0, end));
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) continue;
    if (!DecodedEquals(TrimSpaces(pair.substr(0, eq)), name)) continue;
    std::string_view value = TrimSpaces(pair.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    AppendJoined(joined, value);
  }
  return joined;
}

bool IsFormContentType(std::string_view content_type) {
  constexpr std::string_view kForm = "application/x-www-form-urlencoded";
  std::string_view media = TrimSpaces(content_type.substr(0, content_type.find(';')));
  return ascii::EqualsNoCase(media, kForm);
}

std::string MaskPasswords(std::string_view target) {
  const std::size_t question = target.find('?');
  if (question == std::string_view::npos) return std::string(target);
  std::string out(target.substr(0, question + 1));
  std::string_view query = target.substr(question + 1);
  bool first = true;
  while (true) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    if (!first) out += '&';
    first = false;
    const std::size_t equals = pair.find('=');
    const auto name = PercentDecode(pair.substr(0, equals), true);
    if (equals != std::string_view::npos && name &&
        (*name == "password" || *name == "chkpassword")) {
      out.append(pair.substr(0, equals + 1)).append("***");
    } else {
      out.append(pair);
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return out;
}

}  // namespace tessaly::server
