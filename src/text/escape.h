// Escaping of entry texts between what an author types and what the database stores.
//
// Titles and contents are stored as display-ready HTML fragments so that the public pages can
// write them unchanged. Both functions accept any bytes (UTF-8 is passed through untouched,
// since every pattern is ASCII) and never fail; the empty string maps to itself.
#ifndef TESSALY_TEXT_ESCAPE_H_
#define TESSALY_TEXT_ESCAPE_H_

#include <string>
#include <string_view>

namespace tessaly::text {

// Returns the stored form of a typed text: "'" becomes "''", "&", "<", ">" and '"' become
// entities, every space becomes "&nbsp;" and every CR LF pair becomes "<br>". A lone CR or LF,
// tabs and all other bytes pass unchanged. The result holds no '<', '>' or '"' except inside
// the "<br>" it wrote, and no space.
std::string EncodeText(std::string_view text);

// Returns the typed text for a stored form: "<br>" becomes CR LF, the five entities become
// their characters ("&amp;" last, so a typed entity text survives) and "''" becomes "'".
// DecodeText(EncodeText(t)) == t for every t, so an entry that is edited and saved unchanged
// is stored identically.
std::string DecodeText(std::string_view text);

}  // namespace tessaly::text

#endif  // TESSALY_TEXT_ESCAPE_H_
