// Whole-text replacement shared by the text operations.
#ifndef TESSALY_TEXT_REPLACE_H_
#define TESSALY_TEXT_REPLACE_H_

#include <string>
#include <string_view>

namespace tessaly::text {

// Replaces every occurrence of `from` (non-empty) in `text` by `to`: occurrences are found
// left to right, do not overlap, and a replaced piece is not searched again.
inline std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (size_t hit; (hit = text.find(from, pos)) != std::string_view::npos;
       pos = hit + from.size()) {
    out.append(text, pos, hit - pos);
    out.append(to);
  }
  out.append(text, pos);
  return out;
}

}  // namespace tessaly::text

#endif  // TESSALY_TEXT_REPLACE_H_
