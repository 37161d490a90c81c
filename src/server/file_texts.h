// Small static files read whole and kept in memory by each event loop, so that a page asked for
// many times a second is not opened and read every time. A kept text is used only while the file is
// the same version (device, inode, size, modification and change times, as its resolution read them
// for this request), so a changed file is read again at once.
#ifndef TESSALY_SERVER_FILE_TEXTS_H_
#define TESSALY_SERVER_FILE_TEXTS_H_

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>

#include "server/static_files.h"

namespace tessaly::server {

// Files up to this size are served from memory; larger ones are streamed from the disk.
inline constexpr std::size_t kMaxKeptFileBytes = 1024 * 1024;

// The texts one event loop keeps (loop_state.h): not thread-safe.
class FileTexts {
 public:
  // The whole text of `file` when it is at most kMaxKeptFileBytes; null when it is larger or
  // cannot be read whole, or when the file was replaced since it was resolved by a database
  // file (static_files.h). A file changed within the last two seconds is read but not kept:
  // file times move in coarse steps, and a second change within one step would look like the
  // same version.
  std::shared_ptr<const std::string> Text(const StaticFile& file);

 private:
  struct Kept {
    struct stat version {};
    std::shared_ptr<const std::string> text;
  };
  std::unordered_map<std::string, Kept> kept_;
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_FILE_TEXTS_H_
