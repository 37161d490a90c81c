#include "server/file_texts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <unordered_map>

namespace tessaly::server {
namespace {

// Bounded in count; each text is bounded by kMaxKeptFileBytes.
constexpr std::size_t kKeptFiles = 32;
constexpr std::time_t kSettledSeconds = 2;

// The file's bytes as one version, told in `version`; null when it cannot be read whole, is
// larger than kMaxKeptFileBytes, or changed while it was read.
std::shared_ptr<const std::string> ReadFile(const std::filesystem::path& path,
                                            struct stat& version) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::shared_ptr<std::string> text;
  struct stat after {};
  if (::fstat(fd, &version) == 0 && S_ISREG(version.st_mode) && version.st_size >= 0 &&
      static_cast<std::size_t>(version.st_size) <= kMaxKeptFileBytes) {
    text = std::make_shared<std::string>(static_cast<std::size_t>(version.st_size), '\0');
    std::size_t got = 0;
    while (got < text->size()) {
      const ssize_t n = ::read(fd, text->data() + got, text->size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got != text->size() || ::fstat(fd, &after) != 0 || !SameFileVersion(after, version)) {
      text.reset();
    }
  }
  ::close(fd);
  return text;
}

}  // namespace

std::shared_ptr<const std::string> FileTexts::Text(const StaticFile& file) {
  if (file.info.st_size < 0 || static_cast<std::size_t>(file.info.st_size) > kMaxKeptFileBytes) {
    return nullptr;
  }
  if (auto it = kept_.find(file.path.native());
      it != kept_.end() && SameFileVersion(it->second.version, file.info)) {
    return it->second.text;
  }
  struct stat version {};
  auto text = ReadFile(file.path, version);
  // Another version than the one resolved (replaced since): its first bytes were not read.
  if (text && !SameFileVersion(version, file.info) && StartsAsDatabase(*text)) return nullptr;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const bool settled =
      now.tv_sec - std::max(version.st_mtim.tv_sec, version.st_ctim.tv_sec) >= kSettledSeconds;
  if (text && settled && SameFileVersion(version, file.info)) {
    if (kept_.size() >= kKeptFiles) kept_.clear();
    kept_.insert_or_assign(file.path.native(), Kept{version, text});
  }
  return text;
}

}  // namespace tessaly::server
