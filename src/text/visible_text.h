// The text of a stored entry as a reader sees it on the page, for searching.
#ifndef TESSALY_TEXT_VISIBLE_TEXT_H_
#define TESSALY_TEXT_VISIBLE_TEXT_H_

#include <string>
#include <string_view>

namespace tessaly::text {

// What the stored HTML `html` shows: tags and comments removed (a line break or a block
// element such as a list item, a paragraph or a quotation becomes one space, an inline one
// nothing, so "<b>wor</b>ld" reads "world"), the entities that EncodeText writes and numeric
// character references decoded ("&nbsp;" is a space), and the doubled apostrophe of the stored
// form read as the one the author typed. A '<' that starts no tag stays. Never fails.
std::string VisibleText(std::string_view html);

}  // namespace tessaly::text

#endif  // TESSALY_TEXT_VISIBLE_TEXT_H_
