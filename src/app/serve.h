// `tessaly serve`: checks every page's database, then serves the site until stopped.
#ifndef TESSALY_APP_SERVE_H_
#define TESSALY_APP_SERVE_H_

#include <optional>
#include <string>

#include "server/config.h"

namespace tessaly::app {

// The flags of serve; each one given replaces what the configuration file says. The page
// flags change the first page of the configuration.
struct ServeFlags {
  std::string config_file;
  std::optional<std::string> root, listen, page, web_path, hot_news, image_size, database;
  std::optional<int> threads, drain_seconds;
};

// The configuration that `flags` and the file they name make. Throws on a bad file. Read again
// on SIGHUP, so the flags keep overriding the file.
server::ServerConfig BuildConfig(const ServeFlags& flags);

// Serves until a signal stops the server; returns the exit status. Throws with a message for
// the command line when the site cannot be served.
int RunServe(const ServeFlags& flags);

}  // namespace tessaly::app

#endif  // TESSALY_APP_SERVE_H_
