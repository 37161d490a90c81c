#include "server/static_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "base/ascii.h"
#include "data/location.h"

namespace tessaly::server {
namespace {

namespace fs = std::filesystem;

bool IsDatabaseFileName(std::string_view name) {
  return ascii::StartsWithNoCase(name, data::kDatabaseFileName) ||
         ascii::EndsWithNoCase(name, ".mdb") || ascii::EndsWithNoCase(name, ".mdb-wal") ||
         ascii::EndsWithNoCase(name, ".mdb-shm") || ascii::EndsWithNoCase(name, ".mdb-journal");
}

// Calls `visit` with each non-empty '/'-separated segment of `path`, in order.
template <typename Visit>
void ForEachSegment(std::string_view path, Visit visit) {
  while (!path.empty()) {
    std::size_t slash = path.find('/');
    std::string_view segment = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (!segment.empty()) visit(segment);
  }
}

// Every '/'-separated segment may be served: not hidden, and the last not a database file.
bool SegmentsAllowed(std::string_view path) {
  bool hidden = false;
  std::string_view last;
  ForEachSegment(path, [&](std::string_view segment) {
    hidden = hidden || segment.front() == '.';
    last = segment;
  });
  return !hidden && !IsDatabaseFileName(last);
}

// The canonical form of `candidate` when it lies inside `root` on allowed segments only; the
// link target is checked as well as the name asked for, since a link may lead anywhere.
std::optional<fs::path> ConfinedCanonical(const fs::path& root, const fs::path& candidate) {
  std::error_code ec;
  fs::path resolved = fs::canonical(candidate, ec);
  if (ec) return std::nullopt;
  const std::string& root_text = root.native();
  const std::string& text = resolved.native();
  if (text.compare(0, root_text.size(), root_text) != 0) return std::nullopt;
  std::string_view rest = std::string_view(text).substr(root_text.size());
  if (!rest.empty() && rest.front() != '/' && root_text != "/") return std::nullopt;
  if (!SegmentsAllowed(rest)) return std::nullopt;
  return resolved;
}

// The canonical file, not yet checked to be a regular file.
std::optional<fs::path> ResolveUncached(const fs::path& root, std::string_view path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  if (path.find('\0') != std::string_view::npos || path.find('\\') != std::string_view::npos) {
    return std::nullopt;
  }
  if (!SegmentsAllowed(path)) return std::nullopt;

  fs::path joined = root;
  ForEachSegment(path, [&joined](std::string_view segment) { joined /= segment; });
  auto resolved = ConfinedCanonical(root, joined);
  if (!resolved) return std::nullopt;
  std::error_code ec;
  if (fs::is_directory(*resolved, ec)) {
    const fs::path folder = *resolved;
    resolved = ConfinedCanonical(root, folder / "index.html");
    if (!resolved) resolved = ConfinedCanonical(root, folder / "index.shtml");
  }
  return resolved;
}

// A canonical path has no links, so its lstat is the file's own.
bool ReadInfo(const fs::path& file, struct stat& info) {
  return ::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// True when `file` begins with a database file's header, or cannot be opened to tell.
bool FileStartsAsDatabase(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return true;
  const bool database = HoldsDatabaseHeader(fd);
  ::close(fd);
  return database;
}

constexpr auto kResolutionLifetime = std::chrono::seconds(1);
constexpr std::size_t kKeptResolutions = 256;

}  // namespace

bool IsNeverServedName(std::string_view relative) { return !SegmentsAllowed(relative); }

bool StartsAsDatabase(std::string_view bytes) { return bytes.starts_with(kDatabaseHeader); }

bool HoldsDatabaseHeader(int fd) {
  std::array<char, kDatabaseHeader.size()> head{};
  const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
  return got == static_cast<ssize_t>(head.size()) &&
         StartsAsDatabase(std::string_view(head.data(), head.size()));
}

bool SameFileVersion(const struct stat& a, const struct stat& b) {
  const auto same_time = [](const timespec& x, const timespec& y) {
    return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
  };
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         same_time(a.st_mtim, b.st_mtim) && same_time(a.st_ctim, b.st_ctim);
}

std::optional<StaticFile> StaticPaths::Resolve(const fs::path& root, std::string_view path) {
  std::string key = root.native();
  key.push_back('\0');
  key.append(path);
  const auto now = std::chrono::steady_clock::now();
  StaticFile file;
  if (auto it = kept_.find(key); it != kept_.end() && now < it->second.until) {
    Kept& resolution = it->second;
    if (ReadInfo(resolution.resolved, file.info)) {
      if (!SameFileVersion(file.info, resolution.checked)) {
        if (FileStartsAsDatabase(resolution.resolved)) {
          kept_.erase(it);
          return std::nullopt;
        }
        resolution.checked = file.info;
      }
      file.path = resolution.resolved;
      return file;
    }
  }
  auto resolved = ResolveUncached(root, path);
  if (!resolved || !ReadInfo(*resolved, file.info) || FileStartsAsDatabase(*resolved)) {
    return std::nullopt;
  }
  if (kept_.size() >= kKeptResolutions) kept_.clear();
  kept_.insert_or_assign(std::move(key), Kept{*resolved, now + kResolutionLifetime, file.info});
  file.path = std::move(*resolved);
  return file;
}

std::string_view ContentTypeFor(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 15> kTypes{{
      {".html", "text/html; charset=utf-8"},
      {".shtml", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".json", "application/json"},
      {".txt", "text/plain; charset=utf-8"},
      {".gif", "image/gif"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".png", "image/png"},
      {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"},
      {".webp", "image/webp"},
      {".woff2", "font/woff2"},
  }};
  for (const auto& [extension, type] : kTypes) {
    if (ascii::EndsWithNoCase(name, extension)) return type;
  }
  return "application/octet-stream";
}

}  // namespace tessaly::server
