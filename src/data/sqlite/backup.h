// An online copy of a site's live database file, taken while the server reads and writes it.
#ifndef TESSALY_DATA_SQLITE_BACKUP_H_
#define TESSALY_DATA_SQLITE_BACKUP_H_

#include <string>

#include "data/backend.h"

namespace tessaly::data {

// Copies the database `from` (a file made by Database::Create) to the file `to`; `options`
// replace an existing `to` or refuse it, and have the pages copied so far and the pages in all. The
// copy is one consistent snapshot: it holds every change committed before the copy began and none
// that commits while it runs, and writers are never held up. The copy is written beside `to`
// under a temporary name, checked (integrity check, and that it is one of ours), synced and
// then renamed into place, so `to` is either the whole checked copy or untouched; nothing is
// left behind on failure. What a run that was killed left beside `to` (its temporary copy and
// SQLite's files beside it) is removed by the next run to `to`, once no live run holds it: two
// runs to one place at once leave each other's copies alone. Throws DataError with a one-line
// message.
void BackupSqliteFile(const std::string& from, const std::string& to, const CopyOptions& options);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_SQLITE_BACKUP_H_
