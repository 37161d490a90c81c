#include "pages/output_cache.h"

#include <charconv>

#include "pages/conditional.h"

namespace tessaly::pages {
namespace {

// What an entry costs besides its key and text: its map node, its place in the use order and
// the strings' own bookkeeping, roughly.
constexpr std::size_t kEntryOverhead = 160;

// Collects what a page writes, to keep it and to write it once.
class CapturedResponse final : public host::Response {
 public:
  explicit CapturedResponse(std::string& text) : text_(text) {}
  void Write(std::string_view text) override { text_.append(text); }
  void BinaryWrite(std::string_view bytes) override { text_.append(bytes); }
  void SetContentType(std::string_view) override { Refuse(); }
  void AddHeader(std::string_view, std::string_view) override { Refuse(); }
  void SetStatus(int) override { Refuse(); }
  void End() override { Refuse(); }

 private:
  [[noreturn]] static void Refuse() { throw Error("a cached page may only write text"); }
  std::string& text_;
};

// The fingerprint of `part` after what `from` is the fingerprint of, its length first, so that
// no two ways of cutting one text into parts give one fingerprint.
std::uint64_t AddPart(std::uint64_t from, std::string_view part) {
  char size[24];
  auto end = std::to_chars(size, size + sizeof size, part.size()).ptr;
  *end++ = ':';
  return Fingerprint(
      part, Fingerprint(std::string_view(size, static_cast<std::size_t>(end - size)), from));
}

}  // namespace

OutputCache::Section& OutputCache::SectionFor(std::uint64_t database, const data::Stamp& stamp) {
  Section& section = sections_[database];
  if (section.stamp != stamp) {
    for (auto& [key, entry] : section.entries) {
      bytes_ -= key.size() + entry.rendering.text.size() + kEntryOverhead;
      lru_.erase(entry.use);
    }
    section.entries.clear();
    section.stamp = stamp;
    bytes_held_.store(bytes_, std::memory_order_relaxed);
  }
  return section;
}

const Rendering* OutputCache::Find(std::uint64_t database, const data::Stamp& stamp,
                                   std::string_view key) {
  if (!stamp.known) return nullptr;
  Section& section = SectionFor(database, stamp);
  auto it = section.entries.find(key);
  if (it == section.entries.end()) return nullptr;
  lru_.splice(lru_.begin(), lru_, it->second.use);
  return &it->second.rendering;
}

void OutputCache::Store(std::uint64_t database, const data::Stamp& stamp, std::string_view key,
                        Rendering rendering) {
  if (!stamp.known) return;
  const std::size_t cost = key.size() + rendering.text.size() + kEntryOverhead;
  if (cost > max_bytes_) return;
  Section& section = SectionFor(database, stamp);
  auto it = section.entries.find(key);
  if (it != section.entries.end()) {
    bytes_ -= it->second.rendering.text.size();
    it->second.rendering = std::move(rendering);
    bytes_ += it->second.rendering.text.size();
    lru_.splice(lru_.begin(), lru_, it->second.use);
  } else {
    it = section.entries.emplace(std::string(key), Entry{std::move(rendering), {}}).first;
    lru_.push_front({&section, &it->first});
    it->second.use = lru_.begin();
    bytes_ += cost;
  }
  while (bytes_ > max_bytes_) EraseLeastRecent();
  bytes_held_.store(bytes_, std::memory_order_relaxed);
}

void OutputCache::Clear() {
  lru_.clear();
  sections_.clear();
  bytes_ = 0;
  bytes_held_.store(0, std::memory_order_relaxed);
}

void OutputCache::EraseLeastRecent() {
  const Use use = lru_.back();
  auto it = use.section->entries.find(*use.key);
  bytes_ -= it->first.size() + it->second.rendering.text.size() + kEntryOverhead;
  lru_.pop_back();
  use.section->entries.erase(it);
}

PublicCache::PublicCache(std::size_t max_bytes, unsigned loops)
    : bytes_per_loop_(max_bytes / std::max(1u, loops)) {}

PublicCache::~PublicCache() = default;

std::unique_ptr<OutputCache> PublicCache::NewRenderings() const {
  if (bytes_per_loop_ == 0) return nullptr;
  return std::make_unique<OutputCache>(bytes_per_loop_);
}

std::shared_ptr<const ListAnchors> PublicCache::Anchors(std::uint64_t database,
                                                        const data::Stamp& stamp,
                                                        const std::function<ListAnchors()>& read) {
  if (!stamp.known) return std::make_shared<const ListAnchors>(read());
  std::lock_guard lock(anchors_mutex_);
  KeptAnchors& kept = anchors_[database];
  if (!kept.anchors || kept.stamp != stamp) {
    kept.anchors = std::make_shared<const ListAnchors>(read());
    kept.stamp = stamp;
  }
  return kept.anchors;
}

void WriteCached(const PageContext& page, std::string_view key, const RenderFunction& render,
                 std::string_view prefix) {
  OutputCache* cache = page.renderings;
  const std::uint64_t database = page.database.Id();
  const auto answer = [&](const Rendering& rendering) {
    const std::string tag = EntityTag(AddPart(rendering.fingerprint, prefix));
    if (AnswerWithTag(page.request, page.response, tag)) return;
    page.response.Write(prefix);
    page.response.Write(rendering.text);
  };
  if (cache) {
    if (const Rendering* kept = cache->Find(database, page.database.CurrentStamp(), key)) {
      cache->CountHit();
      return answer(*kept);
    }
    cache->CountMiss();
  }
  Rendering rendering;
  CapturedResponse captured(rendering.text);
  // The context holds references: the one that writes elsewhere is built member by member.
  const PageContext writer{page.request,     captured,      page.server,       page.session,
                           page.script_name, page.web_path, page.hot_news_rcs, page.image_size,
                           page.texts,       page.database, page.logons,       page.cache,
                           page.renderings};
  data::Stamp state;
  try {
    state = page.database.ReadOneState([&](data::Connection& connection, const data::Stamp& stamp) {
      render(writer, OneState{connection, stamp});
    });
  } catch (...) {
    page.response.Write(prefix);
    page.response.Write(rendering.text);
    throw;
  }
  rendering.fingerprint = AddPart(AddPart(kEmptyFingerprint, key), rendering.text);
  answer(rendering);
  if (cache) cache->Store(database, state, key, std::move(rendering));
}

bool IsKept(const PageContext& page, std::string_view key) {
  OutputCache* cache = page.renderings;
  return cache && cache->Find(page.database.Id(), page.database.CurrentStamp(), key) != nullptr;
}

std::string CachedText(const PageContext& page, std::string_view key,
                       const std::function<std::string(const OneState& state)>& read) {
  OutputCache* cache = page.renderings;
  const std::uint64_t database = page.database.Id();
  if (cache) {
    if (const Rendering* kept = cache->Find(database, page.database.CurrentStamp(), key)) {
      return kept->text;
    }
  }
  std::string text;
  const data::Stamp state =
      page.database.ReadOneState([&](data::Connection& connection, const data::Stamp& stamp) {
        text = read(OneState{connection, stamp});
      });
  if (cache) cache->Store(database, state, key, {text});
  return text;
}

CacheKey& CacheKey::Add(std::string_view part) {
  char size[24];
  auto end = std::to_chars(size, size + sizeof size, part.size()).ptr;
  key_.append(size, end).append(1, ':').append(part);
  return *this;
}

CacheKey& CacheKey::Add(std::int64_t number) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  return Add(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

}  // namespace tessaly::pages
