#include "server/access_log.h"

#include <fmt/format.h>

#include <ctime>

#include "base/utf8.h"
#include "server/url_encoding.h"

namespace tessaly::server {

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text.front());
    if (byte >= 0x80) {
      const std::size_t length = utf8::SequenceLength(text);
      if (length == 0) {
        out += "\ufffd";
        text.remove_prefix(1);
      } else {
        out.append(text.substr(0, length));
        text.remove_prefix(length);
      }
      continue;
    }
    text.remove_prefix(1);
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xf];
        } else {
          out += static_cast<char>(byte);
        }
    }
  }
  out += '"';
}

std::string TextAccessLine(const AccessRecord& record) {
  const double millis = std::chrono::duration<double, std::milli>(record.duration).count();
  const std::string target = record.target == "-" ? "-" : MaskPasswords(record.target);
  return fmt::format("{} {} {} {} {} {:.3f}ms", record.client, record.method, target, record.status,
                     record.bytes, millis);
}

std::string JsonAccessLine(const AccessRecord& record) {
  using std::chrono::duration_cast;
  const auto since_epoch = record.time.time_since_epoch();
  const std::time_t seconds =
      static_cast<std::time_t>(duration_cast<std::chrono::seconds>(since_epoch).count());
  const auto millis = duration_cast<std::chrono::milliseconds>(since_epoch).count() % 1000;
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char time[40];
  std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &utc);

  std::string line;
  line.reserve(256 + record.target.size());
  line += "{\"time\":\"";
  line += time;
  line += fmt::format(".{:03}Z\",\"client\":", millis);
  AppendJsonString(line, record.client);
  line += ",\"method\":";
  AppendJsonString(line, record.method);
  line += ",\"target\":";
  AppendJsonString(line, record.target == "-" ? "-" : MaskPasswords(record.target));
  line +=
      fmt::format(",\"status\":{},\"bytes\":{},\"duration_us\":{},\"route\":", record.status,
                  record.bytes, duration_cast<std::chrono::microseconds>(record.duration).count());
  AppendJsonString(line, record.route);
  line += record.cache_hit ? ",\"cache_hit\":true}" : ",\"cache_hit\":false}";
  return line;
}

}  // namespace tessaly::server
