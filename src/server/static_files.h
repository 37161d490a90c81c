// Which file, if any, a request path may serve from the site's root folder.
#ifndef TESSALY_SERVER_STATIC_FILES_H_
#define TESSALY_SERVER_STATIC_FILES_H_

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tessaly::server {

struct StaticFile {
  std::filesystem::path path;  // canonical, under the root
  struct stat info {};         // of that file (a regular file), read when it was resolved
};

// The regular file that the percent-decoded request path `path` names under `root` (which must
// be canonical), or nothing when it must not be served: a NUL or backslash in the path, a
// segment that starts with '.' (so "." and ".." too), a database file (the log database and any
// file whose name starts with its name, in any case: its journal, a backup, an editor's copy;
// any other *.mdb), anything that does not exist, is not a regular file, or resolves (through
// symbolic links) outside the root or onto a dotfile or database file. Nor is a file served
// whose first bytes are a database file's header, whatever its name (a copy made under another
// name): the header is read when a path is resolved and again whenever the file's version
// (file_texts.h) differs from the one last read. A directory serves its index.html, or else its
// index.shtml. The path is joined segment by segment, so it can never replace the root.
//
// What a path resolves to is kept for a second (resolving costs a system call or two per
// segment), checked on every call to be still a regular file of the version whose header was
// read: a change of the site's symbolic links shows within that second, a change of a file at
// once. A reader of the file checks that it reads that same version (SameFileVersion). One
// event loop's (loop_state.h): not thread-safe.
class StaticPaths {
 public:
  std::optional<StaticFile> Resolve(const std::filesystem::path& root, std::string_view path);

 private:
  struct Kept {
    std::filesystem::path resolved;
    std::chrono::steady_clock::time_point until;
    struct stat checked {};  // the version whose first bytes were read
  };
  std::unordered_map<std::string, Kept> kept_;
};

// True when `relative`, a '/'-separated path under a site's root, is one that no request can
// name: one of its segments starts with '.', or its last is a database file's name.
bool IsNeverServedName(std::string_view relative);

// The first bytes of every SQLite database file.
inline constexpr std::string_view kDatabaseHeader{"SQLite format 3\0", 16};

// True when `bytes`, a file's first bytes or all of them, begin with kDatabaseHeader.
bool StartsAsDatabase(std::string_view bytes);
// True when the open file `fd` begins with kDatabaseHeader (read at offset 0; the file's
// offset is left as it was).
bool HoldsDatabaseHeader(int fd);

// True when `a` and `b` describe the same version of one file: device, inode, size, and
// modification and change times to the nanosecond.
bool SameFileVersion(const struct stat& a, const struct stat& b);

// The Content-Type for a file name by its extension; application/octet-stream when unknown.
std::string_view ContentTypeFor(std::string_view name);

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_STATIC_FILES_H_
