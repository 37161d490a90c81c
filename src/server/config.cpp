#include "server/config.h"

#include <toml++/toml.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <set>
#include <string_view>
#include <thread>

#include "base/errors.h"
#include "data/location.h"
#include "server/client_address.h"

namespace tessaly::server {
namespace {

// Reads one file's keys, naming the file and the key in every complaint.
class Reader {
 public:
  explicit Reader(const std::string& file) : file_(file) {}

  [[noreturn]] void Fail(const std::string& what) const { throw ConfigError(file_ + ": " + what); }
  [[noreturn]] void BadValue(const std::string& key, const std::string& why) const {
    Fail("bad value for " + key + ": " + why);
  }
  [[noreturn]] void UnknownKey(const std::string& key) const { Fail("unknown key " + key); }

  std::string String(const toml::node& node, const std::string& key) const {
    const auto* value = node.as_string();
    if (!value) BadValue(key, "expected a string");
    return value->get();
  }

  std::int64_t Integer(const toml::node& node, const std::string& key, std::int64_t min,
                       std::int64_t max) const {
    const auto* value = node.as_integer();
    if (!value) BadValue(key, "expected an integer");
    std::int64_t number = value->get();
    if (number < min || number > max) {
      BadValue(key, std::to_string(number) + " is not between " + std::to_string(min) + " and " +
                        std::to_string(max));
    }
    return number;
  }

  // Page properties keep the type the file gives them; the component coerces them.
  host::Variant Property(const toml::node& node, const std::string& key) const {
    if (const auto* integer = node.as_integer()) {
      std::int64_t number = integer->get();
      if (number >= std::numeric_limits<std::int32_t>::min() &&
          number <= std::numeric_limits<std::int32_t>::max()) {
        return host::Variant(static_cast<std::int32_t>(number));
      }
      return host::Variant(static_cast<double>(number));
    }
    if (const auto* floating = node.as_floating_point()) return host::Variant(floating->get());
    if (const auto* text = node.as_string()) return host::Variant(text->get());
    BadValue(key, "expected an integer, a number or a string");
  }

  const toml::table& Table(const toml::node& node, const std::string& key) const {
    const auto* table = node.as_table();
    if (!table) BadValue(key, "expected a table");
    return *table;
  }

 private:
  const std::string& file_;
};

// Reads `node` into `value` when `key` names `setting`; false when it names another.
template <typename T>
bool ReadSetting(const Reader& reader, const std::string& key, const toml::node& node,
                 const Setting<T>& setting, T& value) {
  if (key != setting.key) return false;
  value = static_cast<T>(reader.Integer(node, key, static_cast<std::int64_t>(setting.min),
                                        static_cast<std::int64_t>(setting.max)));
  return true;
}

std::vector<std::string> ReadAddresses(const Reader& reader, const toml::node& node,
                                       const std::string& key) {
  const auto* array = node.as_array();
  if (!array) reader.BadValue(key, "expected a list of IP addresses");
  std::vector<std::string> addresses;
  for (const toml::node& item : *array) {
    const std::string text = reader.String(item, key);
    if (!IsIpAddress(text)) reader.BadValue(key, "\"" + text + "\" is not an IP address");
    addresses.push_back(ClientAddress(text, {}, {}));  // canonical text
  }
  return addresses;
}

void ReadLimits(const Reader& reader, const toml::table& table, ServerConfig& config) {
  for (auto&& [name, node] : table) {
    std::string key = "limits." + std::string(name.str());
    bool known =
        ReadSetting(reader, key, node, kMaxHeaderBytes, config.max_header_bytes) ||
        ReadSetting(reader, key, node, kMaxBodyBytes, config.max_body_bytes) ||
        ReadSetting(reader, key, node, kMaxBodyMemoryBytes, config.max_body_memory_bytes) ||
        ReadSetting(reader, key, node, kMaxConnections, config.max_connections) ||
        ReadSetting(reader, key, node, kMaxConnectionsPerAddress,
                    config.max_connections_per_address) ||
        ReadSetting(reader, key, node, kMaxIncludes, config.max_includes) ||
        ReadSetting(reader, key, node, kMaxIncludeBytes, config.max_include_bytes) ||
        ReadSetting(reader, key, node, kReadTimeoutSeconds, config.read_timeout_seconds) ||
        ReadSetting(reader, key, node, kIdleTimeoutSeconds, config.idle_timeout_seconds) ||
        ReadSetting(reader, key, node, kMaxSessions, config.max_sessions) ||
        ReadSetting(reader, key, node, kMaxSearches, config.max_searches);
    if (!known) reader.UnknownKey(key);
  }
}

void ReadSession(const Reader& reader, const toml::table& table, ServerConfig& config) {
  for (auto&& [name, node] : table) {
    std::string key = "session." + std::string(name.str());
    if (name == "store") {
      const std::string store = reader.String(node, key);
      if (store != "memory" && store != "database") {
        reader.BadValue(key, "expected \"memory\" or \"database\"");
      }
      config.sessions_in_database = store == "database";
    } else if (!ReadSetting(reader, key, node, kSessionTimeoutMinutes,
                            config.session_timeout_minutes)) {
      reader.UnknownKey(key);
    }
  }
}

void ReadCache(const Reader& reader, const toml::table& table, ServerConfig& config) {
  for (auto&& [name, node] : table) {
    std::string key = "cache." + std::string(name.str());
    if (name == "public_cache_control") {
      config.public_cache_control = reader.String(node, key);
      if (config.public_cache_control.empty() ||
          !std::all_of(config.public_cache_control.begin(), config.public_cache_control.end(),
                       [](char c) { return c >= ' ' && c <= '~'; })) {
        reader.BadValue(key, "expected Cache-Control directives in printable ASCII");
      }
    } else if (!ReadSetting(reader, key, node, kCacheMaxBytes, config.cache_max_bytes)) {
      reader.UnknownKey(key);
    }
  }
}

void ReadMetrics(const Reader& reader, const toml::table& table, ServerConfig& config) {
  for (auto&& [name, node] : table) {
    std::string key = "metrics." + std::string(name.str());
    if (name == "path") {
      config.metrics_path = reader.String(node, key);
      if (!config.metrics_path.empty() && config.metrics_path.front() != '/') {
        reader.BadValue(key, "must start with / (or be empty: no metrics)");
      }
    } else if (name == "allow") {
      config.metrics_allow = ReadAddresses(reader, node, key);
    } else {
      reader.UnknownKey(key);
    }
  }
}

void ReadDatabase(const Reader& reader, const toml::table& table, ServerConfig& config) {
  for (auto&& [name, node] : table) {
    std::string key = "database." + std::string(name.str());
    if (name != "url") reader.UnknownKey(key);
    config.database_url = reader.String(node, key);
    if (!data::IsDatabaseUrl(config.database_url)) {
      reader.BadValue(key, "must start with postgresql://");
    }
  }
}

void ReadSite(const Reader& reader, const toml::table& table, ServerConfig& config) {
  for (auto&& [name, node] : table) {
    std::string key = "site." + std::string(name.str());
    if (name == "label") {
      config.texts.site_label = reader.String(node, key);
    } else if (name == "webmaster_email") {
      config.texts.webmaster_email = reader.String(node, key);
    } else if (name == "notice") {
      config.texts.notice = reader.String(node, key);
    } else if (name == "credit_text") {
      config.texts.credit_text = reader.String(node, key);
    } else if (name == "credit_url") {
      config.texts.credit_url = reader.String(node, key);
    } else if (name == "url") {
      config.texts.url = reader.String(node, key);
      if (!config.texts.url.starts_with("http://") && !config.texts.url.starts_with("https://")) {
        reader.BadValue(key, "must start with http:// or https://");
      }
      while (config.texts.url.ends_with('/')) config.texts.url.pop_back();
    } else {
      reader.UnknownKey(key);
    }
  }
}

// A request path of the server's own: starts with "/", holds nothing that a path of a request
// could not match exactly.
void CheckPath(const Reader& reader, const std::string& key, const std::string& path) {
  if (path.empty() || path.front() != '/') reader.BadValue(key, "must start with /");
  if (path.find_first_of("?#%\\") != std::string::npos) {
    reader.BadValue(key, "must not contain ?, #, % or \\");
  }
}

void ReadHealth(const Reader& reader, const toml::table& table, ServerConfig& config) {
  for (auto&& [name, node] : table) {
    std::string key = "health." + std::string(name.str());
    if (name == "path") {
      config.health_path = reader.String(node, key);
      CheckPath(reader, key, config.health_path);
    } else if (!ReadSetting(reader, key, node, kDrainSeconds, config.drain_seconds)) {
      reader.UnknownKey(key);
    }
  }
}

PageConfig ReadPage(const Reader& reader, const toml::table& table, const std::string& prefix) {
  PageConfig page;
  for (auto&& [name, node] : table) {
    std::string key = prefix + "." + std::string(name.str());
    if (name == "path") {
      page.path = reader.String(node, key);
      CheckPath(reader, key, page.path);
    } else if (name == "web_path") {
      page.web_path = reader.String(node, key);
    } else if (name == "hot_news") {
      page.hot_news = reader.Property(node, key);
    } else if (name == "image_size") {
      page.image_size = reader.Property(node, key);
    } else {
      reader.UnknownKey(key);
    }
  }
  return page;
}

void ReadPages(const Reader& reader, const toml::node& node, ServerConfig& config) {
  const auto* array = node.as_array();
  if (!array || !array->is_array_of_tables()) {
    reader.BadValue("page", "expected [[page]] tables");
  }
  std::vector<PageConfig> pages;
  std::set<std::string> paths;
  for (std::size_t i = 0; i < array->size(); ++i) {
    std::string prefix = "page[" + std::to_string(i + 1) + "]";
    PageConfig page = ReadPage(reader, *array->get(i)->as_table(), prefix);
    if (!paths.insert(page.path).second) {
      reader.BadValue(prefix + ".path", "\"" + page.path + "\" is declared twice");
    }
    pages.push_back(std::move(page));
  }
  config.pages = std::move(pages);
}

}  // namespace

void LoadConfigFile(const std::string& path, ServerConfig& config) {
  Reader reader(path);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) reader.Fail("no such file");

  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& error) {
    const auto& where = error.source().begin;
    reader.Fail("line " + std::to_string(where.line) + ", column " + std::to_string(where.column) +
                ": " + std::string(error.description()));
  }

  // Read into a copy so that a bad file leaves the caller's settings untouched.
  ServerConfig loaded = config;
  for (auto&& [name, node] : root) {
    std::string key(name.str());
    if (ReadSetting(reader, key, node, kThreads, loaded.threads)) continue;
    if (key == "root") {
      loaded.root = reader.String(node, key);
      if (loaded.root.empty()) reader.BadValue(key, "must not be empty");
    } else if (key == "listen") {
      loaded.listen = reader.String(node, key);
      if (loaded.listen.empty()) reader.BadValue(key, "must not be empty");
    } else if (key == "access_log") {
      loaded.access_log = reader.String(node, key);
    } else if (key == "access_log_format") {
      const std::string format = reader.String(node, key);
      if (format != "text" && format != "json")
        reader.BadValue(key, "expected \"text\" or \"json\"");
      loaded.access_log_json = format == "json";
    } else if (key == "trusted_proxies") {
      loaded.trusted_proxies = ReadAddresses(reader, node, key);
    } else if (key == "limits") {
      ReadLimits(reader, reader.Table(node, key), loaded);
    } else if (key == "database") {
      ReadDatabase(reader, reader.Table(node, key), loaded);
    } else if (key == "session") {
      ReadSession(reader, reader.Table(node, key), loaded);
    } else if (key == "metrics") {
      ReadMetrics(reader, reader.Table(node, key), loaded);
    } else if (key == "cache") {
      ReadCache(reader, reader.Table(node, key), loaded);
    } else if (key == "health") {
      ReadHealth(reader, reader.Table(node, key), loaded);
    } else if (key == "site") {
      ReadSite(reader, reader.Table(node, key), loaded);
    } else if (key == "page") {
      ReadPages(reader, node, loaded);
    } else {
      reader.UnknownKey(key);
    }
  }
  if (loaded.max_body_memory_bytes < loaded.max_body_bytes) {
    reader.BadValue(
        std::string(kMaxBodyMemoryBytes.key),
        "less than limits.max_body_bytes, so that a body allowed alone could never fit");
  }
  for (const PageConfig& page : loaded.pages) {
    if (page.path == loaded.health_path) {
      reader.BadValue("health.path", "\"" + page.path + "\" is a page's path");
    }
  }
  config = std::move(loaded);
}

unsigned ServingThreads(const ServerConfig& config) {
  if (config.threads > 0) return static_cast<unsigned>(config.threads);
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace tessaly::server
