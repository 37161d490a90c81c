// The commands that work on a site's database rather than serve it (init, backup, migrate),
// and the markup converter. Each returns the exit status and throws with a message for the
// command line.
#ifndef TESSALY_APP_SITE_COMMANDS_H_
#define TESSALY_APP_SITE_COMMANDS_H_

#include <string>

#include "app/site.h"
#include "text/markup.h"

namespace tessaly::app {

struct InitFlags {
  SiteLocation site;
  std::string user;
  std::string password;
  bool password_stdin = false;
  bool generate_password = false;
};

// Creates the database that serve opens, keeping existing entries, and creates or resets the
// administrator; prints what it did.
int RunInit(const InitFlags& flags);

struct BackupFlags {
  SiteLocation site;
  std::string to;
  bool force = false;
};

// Copies a site's live database to a file (data::Database::Backup).
int RunBackup(const BackupFlags& flags);

struct MigrateFlags {
  SiteLocation site;  // its root names the site's root folder, or the database file itself
  std::string to;
};

// Copies a site's file into an empty database on a server (data/migrate.h).
int RunMigrate(const MigrateFlags& flags);

// Converts standard input to standard output.
int RunMarkup(const text::MarkupCommandOptions& options);

}  // namespace tessaly::app

#endif  // TESSALY_APP_SITE_COMMANDS_H_
