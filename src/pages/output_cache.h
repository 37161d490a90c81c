// What the public pages keep between requests so that most of them are answered without the
// database: the text they wrote, for the committed state of the database they read it from.
//
// Never stale: a rendering is kept under the stamp of the one state it was read from
// (PageDatabase::ReadOneState) and found only while the database's current stamp is that
// stamp, which every commit changes before it returns (data/change_watch.h). So a request
// that starts after a commit returned never gets a page from before it.
//
// Each event loop of the server has its own renderings, which its page handler holds, so a
// cached page takes no lock; their bytes are bounded by a cap shared evenly among the loops.
// What the log list's deep pages need, the anchors of its pages, is read once per state and
// shared read-only by the loops.
#ifndef TESSALY_PAGES_OUTPUT_CACHE_H_
#define TESSALY_PAGES_OUTPUT_CACHE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "data/change_watch.h"
#include "pages/list_anchors.h"
#include "pages/page_context.h"

namespace tessaly::pages {

// A page's text as kept, with the fingerprint of its key and text (conditional.h) that its
// entity tag is made of, so that a client that has it is answered without reading the text.
struct Rendering {
  std::string text;
  std::uint64_t fingerprint = 0;
};

// Renderings by key, each for one state of one database, least recently used first out once
// their bytes (keys, texts and bookkeeping) would pass the cap. A lookup or a store with a
// stamp other than the one a database's renderings were made for drops them all: stamps are
// read in time order, so the other one is the newer. Nothing is found or kept for a stamp
// that is not known. One thread only.
class OutputCache {
 public:
  explicit OutputCache(std::size_t max_bytes) : max_bytes_(max_bytes) {}
  OutputCache(const OutputCache&) = delete;
  OutputCache& operator=(const OutputCache&) = delete;

  // The rendering kept under `key` for state `stamp` of the database `database` (its id), or
  // null. Valid until the next call.
  const Rendering* Find(std::uint64_t database, const data::Stamp& stamp, std::string_view key);

  // Keeps `rendering` under `key` as read from state `stamp`, replacing what the key held.
  // A rendering that alone would pass the cap is not kept.
  void Store(std::uint64_t database, const data::Stamp& stamp, std::string_view key,
             Rendering rendering);

  // Drops every rendering; the counts stay.
  void Clear();

  std::size_t bytes() const { return bytes_; }
  std::size_t size() const { return lru_.size(); }

  // What an operator watches, readable from any thread: the pages written from what was kept
  // (WriteCached) and those read anew, and the bytes held.
  const std::atomic<std::uint64_t>& hits() const { return hits_; }
  std::uint64_t misses() const { return misses_.load(std::memory_order_relaxed); }
  std::size_t bytes_held() const { return bytes_held_.load(std::memory_order_relaxed); }
  void CountHit() { Bump(hits_); }
  void CountMiss() { Bump(misses_); }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  struct Section;
  struct Use {
    Section* section;
    const std::string* key;  // the entry's key in its section, which stays put
  };
  struct Entry {
    Rendering rendering;
    std::list<Use>::iterator use;
  };
  struct Section {
    data::Stamp stamp;
    std::unordered_map<std::string, Entry, Hash, std::equal_to<>> entries;
  };

  // The database's section for `stamp`, emptied when it held another state.
  Section& SectionFor(std::uint64_t database, const data::Stamp& stamp);
  void EraseLeastRecent();

  // Only the owning thread adds, so a plain load and store suffice.
  static void Bump(std::atomic<std::uint64_t>& count) {
    count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }

  const std::size_t max_bytes_;
  std::size_t bytes_ = 0;
  std::atomic<std::uint64_t> hits_{0};
  std::atomic<std::uint64_t> misses_{0};
  std::atomic<std::size_t> bytes_held_{0};  // bytes_, after each change
  std::unordered_map<std::uint64_t, Section> sections_;
  std::list<Use> lru_;  // most recently used first
};

// What the public pages of one server keep: the share of the cap that each loop's renderings
// get, and the anchors that all loops share. The site's texts are the same for every request of
// one server, so keys do not name them.
class PublicCache {
 public:
  // `max_bytes` of renderings in all, shared evenly by `loops` threads; 0 keeps none.
  PublicCache(std::size_t max_bytes, unsigned loops);
  ~PublicCache();
  PublicCache(const PublicCache&) = delete;
  PublicCache& operator=(const PublicCache&) = delete;

  // The renderings of one more loop, holding its share of the cap; null when nothing is kept.
  std::unique_ptr<OutputCache> NewRenderings() const;

  // The log list's anchors for state `stamp` of `database`: those kept for it, or those that
  // `read` returns, kept when the stamp is known. Threads that need them at once wait for one
  // reading rather than each reading them.
  std::shared_ptr<const ListAnchors> Anchors(std::uint64_t database, const data::Stamp& stamp,
                                             const std::function<ListAnchors()>& read);

 private:
  struct KeptAnchors {
    data::Stamp stamp;
    std::shared_ptr<const ListAnchors> anchors;
  };

  const std::size_t bytes_per_loop_;
  std::mutex anchors_mutex_;
  std::unordered_map<std::uint64_t, KeptAnchors> anchors_;  // by database
};

// The state a page is rendered from: the connection of its read transaction and the state's
// stamp (known or not, data::Database::ReadOneState).
struct OneState {
  data::Connection& connection;
  const data::Stamp& stamp;
};
using RenderFunction = std::function<void(const PageContext& page, const OneState& state)>;

// Writes `prefix`, then the text stored under `key` for the database's current state;
// otherwise what `render` writes through the context it is given, read in one committed state,
// kept under `key` for that state. `key` must name everything the text depends on besides the
// database; `render` writes text only (no status, header or session change: throws Error).
// `prefix` is what the page writes before it that depends on the request (it is not kept).
// The answer gets the entity tag of the key, the prefix and the text (conditional.h), and is a
// 304 without either for a client that has them: a kept text is then not even copied.
// When `render` throws, the prefix and what it wrote are written first, untagged. Without a
// cache nothing is kept.
void WriteCached(const PageContext& page, std::string_view key, const RenderFunction& render,
                 std::string_view prefix = {});

// The text kept under `key` for the database's current state; otherwise the text that `read`
// gives from one committed state, kept for that state. For what pages need besides their
// text, such as a count, under keys no page uses.
std::string CachedText(const PageContext& page, std::string_view key,
                       const std::function<std::string(const OneState& state)>& read);

// Whether WriteCached or CachedText would answer `key` from what is kept, now.
bool IsKept(const PageContext& page, std::string_view key);

// Builds cache keys from parts, each part length-prefixed so that no two lists of parts give
// one key.
class CacheKey {
 public:
  explicit CacheKey(std::string_view kind) { Add(kind); }
  CacheKey& Add(std::string_view part);
  CacheKey& Add(std::int64_t number);
  const std::string& str() const { return key_; }

 private:
  std::string key_;
};

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_OUTPUT_CACHE_H_
