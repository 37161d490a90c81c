#include "text/markup.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/ascii.h"
#include "text/escape.h"
#include "text/replace.h"

namespace tessaly::text {
namespace {

// The conversion is defined as a loop that, for every bracket, finds the first "[" and "]" of
// the whole text, searches for the closing tag, and replaces every copy of the tagged segment
// throughout the text. Done literally that rescans and rebuilds the whole text per bracket.
//
// Converter produces exactly the same text with work proportional to what each step touches:
//
//  - Nothing before the first bracket is ever changed again (every later step starts at a
//    bracket), so that prefix is moved to `out_` and the working text `rest` starts at it.
//  - Every step rewrites a prefix of `rest` (the segment, or the brackets being neutralised,
//    or everything up to the last copy of the segment). `rest` lives at the end of `buf_`
//    behind a gap, so a prefix is rewritten in place without moving what follows it.
//  - Closing tags ("[/" name "]") and img tags are indexed by their text, holding positions
//    measured from the end of the buffer, which rewriting a prefix leaves valid. A prefix
//    rewrite unindexes the brackets of the old prefix and indexes those of the new one; the
//    text after the prefix is unchanged, so its entries stay exact.
//
// The closing tag search and the search for further copies of a segment then look only at the
// indexed tags of the right name instead of scanning the rest of the text.

constexpr std::string_view kOpenHolder = "\\<\\";
constexpr std::string_view kCloseHolder = "\\>\\";
constexpr size_t kNone = std::string_view::npos;

// Tag texts longer than this are not indexed; the rare tags that need one are searched for
// directly. The bound keeps indexing linear on texts with long bracket-free stretches.
constexpr size_t kMaxIndexedKey = 1024;

using ascii::EqualsNoCase;
using ascii::ToLower;

struct Tag {
  std::string name;  // lower-cased
  std::string param;
};

// Splits the text between the brackets of an opening tag. The separator is the first space
// once "&nbsp;" has been turned into spaces; a separator in first place does not count, so
// such a tag's name is its whole text.
Tag ParseTag(std::string_view tag_text) {
  const std::string spaced = ReplaceAll(tag_text, "&nbsp;", " ");
  const size_t space = spaced.find(' ');
  if (space == std::string::npos || space == 0) return {ToLower(spaced), {}};
  return {ToLower(std::string_view(spaced).substr(0, space)),
          ReplaceAll(std::string_view(spaced).substr(space + 1), "&quot;", "\"")};
}

// True when the tag text would parse with the name "img".
bool IsImgTagText(std::string_view tag_text) {
  if (tag_text.size() < 3 || !EqualsNoCase(tag_text.substr(0, 3), "img")) return false;
  const std::string_view after = tag_text.substr(3);
  return after.empty() || after[0] == ' ' || after.substr(0, 6) == "&nbsp;";
}

std::string Replacement(const Tag& tag, std::string_view inner, std::string_view script_name) {
  const std::string& n = tag.name;
  const std::string& p = tag.param;
  std::string out;
  out.reserve(inner.size() + p.size() + 64);
  auto pair = [&](std::string_view open, std::string_view close) {
    out.append(open).append(inner).append(close);
    return out;
  };
  if (n == "a") return pair("<a target=_blank href=" + p + ">", "</a>");
  if (n == "b") return pair("<b>", "</b>");
  if (n == "blockquote") return pair("<blockquote>", "</blockquote>");
  if (n == "c") return pair("<font color=" + p + ">", "</font><!-- \\<\\c\\>\\ -->");
  if (n == "center") return pair("<center>", "</center>");
  if (n == "i") return pair("<em>", "</em>");
  if (n == "l") return pair("<div style='float:left'>", "</div><!-- \\<\\l\\>\\ -->");
  if (n == "li") return pair("<li>", "</li>");
  if (n == "ol") return pair("<ol>", "</ol>");
  if (n == "s") return pair("<font style='font-size:12px'>", "</font><!-- \\<\\s\\>\\ -->");
  if (n == "r") return pair("<div style='float:right'>", "</div><!-- \\<\\r\\>\\ -->");
  if (n == "u") return pair("<u>", "</u>");
  if (n == "ul") return pair("<ul>", "</ul>");
  if (n == "pre") return pair("<pre>", "</pre>");
  if (n == "img") {
    out.append("<img src=");
    if (p.find('/') == std::string::npos) {
      out.append(script_name).append("?action=image&name=");
    }
    return out.append(p).append(">");
  }
  // An unknown name is kept as literal text: its brackets become placeholders.
  std::string literal;
  literal.append(kOpenHolder).append(n).append(kCloseHolder);
  return pair(literal, literal);
}

class Converter {
 public:
  Converter(std::string_view text, std::string_view script_name) : script_name_(script_name) {
    const std::string escaped =
        ReplaceAll(ReplaceAll(text, "\\[\\", kOpenHolder), "\\]\\", kCloseHolder);
    const size_t gap = escaped.size() / 2 + 64;
    buf_.assign(gap, '\0');
    buf_ += escaped;
    head_ = gap;
    out_.reserve(escaped.size() * 2);
    Index(Rest().size(), true);
  }

  std::string Run() {
    for (;;) {
      CommitPlainPrefix();
      const std::string_view rest = Rest();
      const size_t p = rest.find('[');
      const size_t q = rest.find(']');
      if (p == kNone || q == kNone) break;
      if (q <= p + 1 || !ConvertTag(q)) Neutralise(p, q);
    }
    out_.append(Rest());
    return ReplaceAll(ReplaceAll(out_, kOpenHolder, "["), kCloseHolder, "]");
  }

 private:
  using Positions = std::vector<size_t>;  // offsets from the end of buf_, ascending
  using TagIndex = std::unordered_map<std::string, Positions>;

  std::string_view Rest() const { return std::string_view(buf_).substr(head_); }
  size_t FromEnd(size_t pos) const { return buf_.size() - head_ - pos; }
  size_t FromStart(size_t from_end) const { return buf_.size() - head_ - from_end; }

  // Moves the text before the first bracket to the output.
  void CommitPlainPrefix() {
    const std::string_view rest = Rest();
    const size_t first = std::min(rest.size(), rest.find_first_of("[]"));
    out_.append(rest.substr(0, first));
    head_ += first;
  }

  // Converts the tag that opens at the start of the text and whose first "]" is at q. Returns
  // false when the tag is not converted (a pair without its closing tag).
  bool ConvertTag(size_t q) {
    const std::string_view rest = Rest();
    const std::string_view tag_text = rest.substr(1, q - 1);
    const Tag tag = ParseTag(tag_text);
    size_t segment_end = q + 1;
    std::string_view inner;
    if (tag.name != "img") {
      const size_t e = FindClosingTag(tag.name, q + 1);
      if (e == kNone) return false;
      inner = rest.substr(q + 1, e - q - 1);
      segment_end = e + tag.name.size() + 3;
    }
    const std::string segment(rest.substr(0, segment_end));
    const std::string replacement = Replacement(tag, inner, script_name_);
    const std::vector<size_t> copies =
        tag.name == "img" ? FindImgCopies(segment, tag_text) : FindPairCopies(segment, tag.name);

    std::string rewritten = replacement;
    size_t end = segment.size();
    for (size_t start : copies) {
      rewritten.append(rest.substr(end, start - end)).append(replacement);
      end = start + segment.size();
    }
    RewritePrefix(end, rewritten);
    return true;
  }

  // Replaces the first "[" (at p) and the first "]" (at q) by their placeholders.
  void Neutralise(size_t p, size_t q) {
    const std::string_view rest = Rest();
    const size_t first = std::min(p, q);
    const size_t second = std::max(p, q);
    std::string rewritten;
    rewritten.reserve(second + 5);
    rewritten.append(rest.substr(0, first)).append(first == p ? kOpenHolder : kCloseHolder);
    rewritten.append(rest.substr(first + 1, second - first - 1));
    rewritten.append(second == p ? kOpenHolder : kCloseHolder);
    RewritePrefix(second + 1, rewritten);
  }

  // The position of the first "[/" name "]" at or after `from`, ignoring case, or kNone.
  size_t FindClosingTag(const std::string& name, size_t from) const {
    if (name.size() > kMaxIndexedKey) return FindNoCase("[/" + name + "]", from);
    const auto it = closing_tags_.find(name);
    if (it == closing_tags_.end()) return kNone;
    const Positions& at = it->second;
    // Entries at or after `from` have offsets from the end no larger than that of `from`.
    const auto after = std::upper_bound(at.begin(), at.end(), FromEnd(from));
    return after == at.begin() ? kNone : FromStart(*(after - 1));
  }

  size_t FindNoCase(const std::string& lower_target, size_t from) const {
    const std::string_view rest = Rest();
    for (size_t i = rest.find('[', from); i != kNone && i + lower_target.size() <= rest.size();
         i = rest.find('[', i + 1)) {
      if (EqualsNoCase(rest.substr(i, lower_target.size()), lower_target)) return i;
    }
    return kNone;
  }

  // Start positions of the further non-overlapping copies of a pair segment that starts the
  // text. Every copy ends with a closing tag of the same name, so only those are candidates.
  std::vector<size_t> FindPairCopies(const std::string& segment, const std::string& name) const {
    if (name.size() > kMaxIndexedKey) return FindCopiesByScan(segment);
    std::vector<size_t> copies;
    const std::string_view rest = Rest();
    const Positions& at = closing_tags_.at(name);
    const size_t closing_size = name.size() + 3;
    size_t end = segment.size();
    auto it = std::upper_bound(at.begin(), at.end(), FromEnd(end));
    while (it != at.begin()) {
      --it;
      const size_t start = FromStart(*it) + closing_size - segment.size();
      if (start >= end && rest.compare(start, segment.size(), segment) == 0) {
        copies.push_back(start);
        end = start + segment.size();
      }
    }
    return copies;
  }

  // Start positions of the further copies of an img tag that starts the text.
  std::vector<size_t> FindImgCopies(const std::string& segment, std::string_view tag_text) const {
    if (tag_text.size() > kMaxIndexedKey) return FindCopiesByScan(segment);
    std::vector<size_t> copies;
    const Positions& at = img_tags_.at(std::string(tag_text));
    auto it = std::upper_bound(at.begin(), at.end(), FromEnd(segment.size()));
    while (it != at.begin()) copies.push_back(FromStart(*--it));
    return copies;
  }

  std::vector<size_t> FindCopiesByScan(const std::string& segment) const {
    std::vector<size_t> copies;
    const std::string_view rest = Rest();
    for (size_t at = rest.find(segment, segment.size()); at != kNone;
         at = rest.find(segment, at + segment.size())) {
      copies.push_back(at);
    }
    return copies;
  }

  // Replaces the first `old_size` bytes of the working text by `text`, keeping the index exact.
  void RewritePrefix(size_t old_size, const std::string& text) {
    Index(old_size, false);
    if (head_ + old_size >= text.size()) {
      head_ = head_ + old_size - text.size();
    } else {
      const std::string_view tail = Rest().substr(old_size);
      const size_t gap = text.size() + tail.size() / 2 + 64;
      std::string grown(gap, '\0');
      grown.append(tail);
      buf_.swap(grown);
      head_ = gap - text.size();
    }
    std::memcpy(buf_.data() + head_, text.data(), text.size());
    Index(text.size(), true);
  }

  // Adds (or removes) the index entries of the brackets that open in the first `size` bytes.
  // Entries are kept sorted by offset from the end, so additions run from the last bracket to
  // the first and removals from the first to the last, both at the back of each vector.
  void Index(size_t size, bool add) {
    const std::string_view rest = Rest();
    std::vector<size_t> opens;
    for (size_t at = rest.find('['); at < size; at = rest.find('[', at + 1)) {
      // Only "[/" and "[i" can open an indexed tag.
      if (at + 1 < rest.size() && (rest[at + 1] == '/' || ToLower(rest[at + 1]) == 'i')) {
        opens.push_back(at);
      }
    }
    if (add) std::reverse(opens.begin(), opens.end());
    for (size_t at : opens) {
      Positions* positions = EntryFor(at, add);
      if (positions == nullptr) continue;
      const size_t from_end = FromEnd(at);
      if (add) {
        positions->push_back(from_end);
      } else if (!positions->empty() && positions->back() == from_end) {
        positions->pop_back();
      } else if (const auto it = std::find(positions->begin(), positions->end(), from_end);
                 it != positions->end()) {
        positions->erase(it);
      }
    }
  }

  // The index vector that the bracket at `at` belongs to, if it opens an indexed tag.
  Positions* EntryFor(size_t at, bool create) {
    const std::string_view rest = Rest();
    const bool closing = at + 1 < rest.size() && rest[at + 1] == '/';
    const size_t key_start = at + (closing ? 2 : 1);
    const std::string_view window =
        rest.substr(std::min(key_start, rest.size()), kMaxIndexedKey + 1);
    const size_t key_end = window.find(']');
    if (key_end == kNone) return nullptr;
    const std::string_view key = window.substr(0, key_end);
    if (closing) return Lookup(closing_tags_, ToLower(key), create);
    if (IsImgTagText(key)) return Lookup(img_tags_, std::string(key), create);
    return nullptr;
  }

  static Positions* Lookup(TagIndex& index, std::string key, bool create) {
    if (create) return &index[std::move(key)];
    const auto it = index.find(key);
    return it == index.end() ? nullptr : &it->second;
  }

  std::string_view script_name_;
  std::string buf_;  // [0, head_) is a gap; [head_, size) is the working text
  size_t head_ = 0;
  std::string out_;        // the finished text before the working text
  TagIndex closing_tags_;  // lower-cased name → positions of "[/" name "]"
  TagIndex img_tags_;      // exact tag text → positions of "[" text "]" that parse as img
};

}  // namespace

std::string MarkupToHtml(std::string_view text, std::string_view script_name) {
  return Converter(text, script_name).Run();
}

std::string HtmlToMarkup(std::string_view text) {
  static constexpr std::string_view kSteps[][2] = {
      {"[", "\\[\\"},
      {"]", "\\]\\"},
      {"<img src=", "[img "},
      {"<a target=_blank href=", "[a "},
      {"<font color=", "[c "},
      {"</font><!-- \\[\\c\\]\\ -->", "[/c]"},
      {"<em>", "[i]"},
      {"</em>", "[/i]"},
      {"<div style='float:left'>", "[l]"},
      {"</div><!-- \\[\\l\\]\\ -->", "[/l]"},
      {"<div style='float:right'>", "[r]"},
      {"</div><!-- \\[\\r\\]\\ -->", "[/r]"},
      {"<font style='font-size:12px'>", "[s]"},
      {"</font><!-- \\[\\s\\]\\ -->", "[/s]"},
      {"<br>", "\r\n"},
      {"<", "["},
      {">", "]"},
  };
  std::string t(text);
  for (const auto& [from, to] : kSteps) t = ReplaceAll(t, from, to);
  return DecodeText(t);
}

std::string RunMarkupCommand(std::string_view input, const MarkupCommandOptions& options) {
  if (options.reverse) return options.title ? DecodeText(input) : HtmlToMarkup(input);
  if (options.title) return EncodeText(input);
  return MarkupToHtml(EncodeText(input), options.script_name);
}

}  // namespace tessaly::text
