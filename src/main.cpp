// The command line: reads the flags of each command and runs it (src/app).
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>

#include "app/serve.h"
#include "app/site_commands.h"

using namespace tessaly;

namespace {

// --page and --web-path: which page's database, under the site's root.
void AddPageFlags(CLI::App& command, app::SiteLocation& site) {
  command.add_option("--page", site.page, "virtual path of the log page")->capture_default_str();
  command
      .add_option("--web-path", site.web_path,
                  "folder of the database under the root; empty: the page's folder")
      ->capture_default_str();
}

// --database, --root, --page and --web-path: where the site's database is.
void AddSiteFlags(CLI::App& command, app::SiteLocation& site) {
  command.add_option("--database", site.database,
                     "a PostgreSQL database (postgresql://...) instead of the site's file");
  command.add_option("--root", site.root, "site root folder")->capture_default_str();
  AddPageFlags(command, site);
}

void AddInit(CLI::App& app, app::InitFlags& init) {
  CLI::App* command = app.add_subcommand(
      "init",
      "Create the database that serve opens (keeps existing entries) and create or "
      "reset an administrator account.");
  AddSiteFlags(*command, init.site);
  command->add_option("--user", init.user, "administrator name")->required();
  auto* pw = command->add_option("--password", init.password, "administrator password");
  auto* pw_stdin =
      command->add_flag("--password-stdin", init.password_stdin, "read the password from stdin");
  auto* pw_gen = command->add_flag("--generate-password", init.generate_password,
                                   "generate a random password and print it");
  pw->excludes(pw_stdin)->excludes(pw_gen);
  pw_stdin->excludes(pw_gen);
}

// The help states the defaults that serve falls back on, read from the settings themselves.
void AddServe(CLI::App& app, app::ServeFlags& serve) {
  CLI::App* command =
      app.add_subcommand("serve", "Serve the site: the log pages and static files.");
  command->add_option("--config", serve.config_file, "TOML configuration file")
      ->check(CLI::ExistingFile);
  const server::ServerConfig defaults;
  const server::PageConfig page;
  const auto with_default = [](const std::string& what, const std::string& value) {
    return what + " (default " + value + ")";
  };
  command->add_option("--database", serve.database,
                      "PostgreSQL database (postgresql://...) for every page; default: each "
                      "page's SQLite file");
  command->add_option("--root", serve.root, with_default("site root folder", defaults.root));
  command->add_option(
      "--listen", serve.listen,
      with_default("HOST:PORT to listen on; port 0 picks a free one", defaults.listen));
  command->add_option("--page", serve.page,
                      with_default("virtual path of the log page", page.path));
  command->add_option("--web-path", serve.web_path,
                      with_default("folder of the database", page.web_path.ToString()));
  command->add_option("--hot-news", serve.hot_news,
                      with_default("entries in the hot news block", page.hot_news.ToString()));
  command->add_option("--image-size", serve.image_size,
                      with_default("largest accepted upload in bytes", page.image_size.ToString()));
  command
      ->add_option("--threads", serve.threads,
                   with_default("server threads; 0: one per core",
                                std::to_string(server::kThreads.default_value)))
      ->check(CLI::Range(server::kThreads.min, server::kThreads.max));
  command
      ->add_option("--drain-seconds", serve.drain_seconds,
                   with_default("after SIGTERM, seconds to serve on while the health check says "
                                "draining; 0: stop at once",
                                std::to_string(server::kDrainSeconds.default_value)))
      ->check(CLI::Range(server::kDrainSeconds.min, server::kDrainSeconds.max));
}

void AddMarkup(CLI::App& app, text::MarkupCommandOptions& markup) {
  CLI::App* command = app.add_subcommand(
      "markup", "Read a text on stdin and print what an entry would store for it.");
  command->add_option("--script-name", markup.script_name, "page path used in picture links")
      ->capture_default_str();
  command->add_flag("--title", markup.title, "treat the text as a title (escaping only)");
  command->add_flag("--reverse", markup.reverse,
                    "print what the edit form shows for a stored content (or title)");
}

void AddBackup(CLI::App& app, app::BackupFlags& backup) {
  CLI::App* command = app.add_subcommand(
      "backup",
      "Copy a site's live database to a file while the server runs: one consistent snapshot, "
      "checked before it is put in place.");
  AddSiteFlags(*command, backup.site);
  command->add_option("--to", backup.to, "the copy's file")->required();
  command->add_flag("--force", backup.force, "replace the file if it exists");
}

void AddMigrate(CLI::App& app, app::MigrateFlags& migrate) {
  CLI::App* command = app.add_subcommand(
      "migrate",
      "Copy a site's entries, accounts and pictures from its SQLite file into an empty "
      "PostgreSQL database, in one transaction.");
  command->add_option("--from", migrate.site.root, "the site's root folder, or its database file")
      ->required();
  AddPageFlags(*command, migrate.site);
  command->add_option("--to", migrate.to, "the PostgreSQL database (postgresql://...)")->required();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    // Standard output carries only the answers of the commands (the URL, a conversion); the
    // log goes to standard error. A closed output pipe must not kill a server.
    spdlog::set_default_logger(spdlog::stderr_color_mt("tessaly"));
    std::signal(SIGPIPE, SIG_IGN);
    CLI::App app{
        "Tessaly: a site log board with its own web server.\n"
        "Publishes short dated announcements, an embeddable block of the newest ones,\n"
        "and an admin area, stored in an SQLite file inside the site folder or in a\n"
        "PostgreSQL database that several servers share."};
    app.set_version_flag("--version", std::string("tessaly ") + TESSALY_VERSION);
    app.require_subcommand(1);
    app::InitFlags init;
    app::ServeFlags serve;
    text::MarkupCommandOptions markup;
    app::BackupFlags backup;
    app::MigrateFlags migrate;
    AddInit(app, init);
    AddServe(app, serve);
    AddMarkup(app, markup);
    AddBackup(app, backup);
    AddMigrate(app, migrate);
    CLI11_PARSE(app, argc, argv);
    if (app.got_subcommand("init")) return app::RunInit(init);
    if (app.got_subcommand("serve")) return app::RunServe(serve);
    if (app.got_subcommand("markup")) return app::RunMarkup(markup);
    if (app.got_subcommand("backup")) return app::RunBackup(backup);
    if (app.got_subcommand("migrate")) return app::RunMigrate(migrate);
  } catch (const std::exception& e) {
    std::cerr << "tessaly: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
