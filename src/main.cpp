// The command line: create a site's database, serve it, or convert entry markup.
#include <unistd.h>

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <CLI/CLI.hpp>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <stop_token>
#include <thread>

#include "admin/passwords.h"
#include "base/errors.h"
#include "component/run_page.h"
#include "data/backup.h"
#include "data/database.h"
#include "data/generation_feed.h"
#include "data/location.h"
#include "data/migrate.h"
#include "data/node_lease.h"
#include "data/postgres.h"
#include "data/recordset.h"
#include "data/schema.h"
#include "data/search_index.h"
#include "data/session_table.h"
#include "pages/output_cache.h"
#include "server/config.h"
#include "server/host_objects.h"
#include "server/session_store.h"
#include "server/static_files.h"
#include "server/web_server.h"
#include "text/markup.h"
#include "text/visible_text.h"

namespace fs = std::filesystem;
using namespace tessaly;

namespace {

// The database file that the page's requests will open, spelled as they spell it, so that the
// check at start-up and the requests share one pooled database.
std::string DatabaseFile(const std::string& root, const server::PageConfig& page) {
  const std::string root_folder = fs::canonical(root).string();
  return data::DatabaseFileFor(root_folder, server::MapVirtualPath(root_folder, page.path, "."),
                               page.web_path.ToString());
}

// Indexes what the search index lacks (all of a table that has never been indexed), showing
// progress on a terminal or logging it, since a large table takes a while.
void CatchUpSearchIndex(const std::string& file) {
  auto database = data::Database::Open(file);
  const bool terminal = ::isatty(STDERR_FILENO);
  std::int64_t logged = 0;
  data::CatchUpSearchIndex(
      *database->Acquire(), text::VisibleText, [&](std::int64_t done, std::int64_t total) {
        if (terminal) {
          std::cerr << "\rindexing entries for search: " << done << " of " << total << std::flush;
          if (done == total) std::cerr << "\n";
        } else if (done == total || done - logged >= 100000) {
          spdlog::info("indexing entries for search: {} of {}", done, total);
          logged = done;
        }
      });
}

// The sessions of every node of a site, kept in the database they share. A request whose
// session cannot be looked up or removed goes on as one without a session; the other failures
// fail the page like any other data error.
class DatabaseSessions final : public server::Sessions {
 public:
  explicit DatabaseSessions(std::shared_ptr<data::SessionTable> table) : table_(std::move(table)) {}

  bool Touch(std::string_view id) override {
    try {
      return table_->Touch(id);
    } catch (const std::exception& e) {
      spdlog::error("session lookup: {}", e.what());
      return false;
    }
  }
  std::string Create(server::SessionIds& ids) override {
    std::string id = ids.Next();
    table_->Create(id);
    return id;
  }
  std::string Value(std::string_view id, std::string_view name) override {
    return table_->Value(id, name);
  }
  void SetValue(std::string_view id, std::string_view name, std::string value) override {
    table_->SetValue(id, name, value);
  }
  void SetTimeout(std::string_view id, int minutes) override { table_->SetTimeout(id, minutes); }
  std::string Renew(server::SessionIds& ids, std::string_view id,
                    std::string_view account) override {
    std::string renewed = ids.Next();
    table_->Renew(id, renewed, account);
    return renewed;
  }
  void EndAccount(std::string_view account, std::string_view keep) override {
    table_->EndAccount(account, keep);
  }
  void Remove(std::string_view id) override {
    try {
      table_->Remove(id);
    } catch (const std::exception& e) {
      spdlog::error("session removal: {}", e.what());
    }
  }

 private:
  std::shared_ptr<data::SessionTable> table_;
};

// Removes expired sessions and old failed logons from the database once a minute, on a thread
// of its own, until it is destroyed.
class SessionSweeper {
 public:
  SessionSweeper(std::shared_ptr<data::SessionTable> table, std::size_t keep,
                 std::chrono::seconds window)
      : thread_([table = std::move(table), keep, window, this](std::stop_token stop) {
          std::mutex mutex;
          while (!stop.stop_requested()) {
            try {
              table->Sweep(keep, server::kMaxAccountSessions, window);
            } catch (const std::exception& e) {
              spdlog::warn("sweeping sessions: {}", e.what());
            }
            std::unique_lock lock(mutex);
            wake_.wait_for(lock, stop, std::chrono::minutes(1), [] { return false; });
          }
        }) {}

 private:
  std::condition_variable_any wake_;
  std::jthread thread_;  // last: stopped and joined first
};

PageProperties PropertiesOf(const server::PageConfig& page) {
  return {page.web_path, page.hot_news, page.image_size};
}

std::string GeneratePassword() {
  static constexpr char kAlphabet[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::random_device device;
  std::uniform_int_distribution<int> pick(0, sizeof kAlphabet - 2);
  std::string password;
  for (int i = 0; i < 16; ++i) password += kAlphabet[pick(device)];
  return password;
}

// Where a site's database is, for the commands that work on the file rather than serve it.
struct SiteLocation {
  std::string database;  // a PostgreSQL URL, which replaces the file
  std::string root = server::ServerConfig().root;
  std::string page = server::PageConfig().path;
  std::string web_path = server::PageConfig().web_path.ToString();

  // The database file, spelled as serve spells it.
  std::string DatabaseFile() const {
    if (!database.empty()) return database;
    server::PageConfig config;
    config.path = page;
    config.web_path = web_path;
    return ::DatabaseFile(root, config);
  }
};

void AddSiteOptions(CLI::App& command, SiteLocation& site) {
  command.add_option("--database", site.database,
                     "a PostgreSQL database (postgresql://...) instead of the site's file");
  command.add_option("--root", site.root, "site root folder")->capture_default_str();
  command.add_option("--page", site.page, "virtual path of the log page")->capture_default_str();
  command
      .add_option("--web-path", site.web_path,
                  "folder of the database under the root; empty: the page's folder")
      ->capture_default_str();
}

struct InitOptions {
  SiteLocation site;
  std::string user;
  std::string password;
  bool password_stdin = false;
  bool generate_password = false;
};

int RunInit(const InitOptions& o) {
  std::string password = o.password;
  if (o.password_stdin) {
    if (!std::getline(std::cin, password))
      throw std::runtime_error("no password on standard input");
    if (!password.empty() && password.back() == '\r') password.pop_back();
  }
  if (o.generate_password) password = GeneratePassword();
  if (password.empty()) throw std::runtime_error("the password must not be empty");

  // A site's file is found from its root folder, which must exist first; a database is not.
  if (o.site.database.empty()) fs::create_directories(o.site.root);
  const std::string file = o.site.DatabaseFile();
  bool existed = true;
  if (o.site.database.empty()) {
    fs::create_directories(fs::path(file).parent_path());
    existed = fs::exists(file);
  } else {
    try {
      data::Database::Open(file);  // refuses a database without our tables
    } catch (const DataError&) {
      existed = false;  // or unreachable, which Create then reports
    }
  }
  data::Database::Create(file);
  CatchUpSearchIndex(file);
  auto database = data::Database::Open(file);
  data::Command(database->Acquire())
      .Execute(
          "INSERT INTO USERTB (USERNAME, PASSWORD) VALUES (?, ?) "
          "ON CONFLICT (USERNAME) DO UPDATE SET PASSWORD = excluded.PASSWORD",
          {o.user, admin::HashPassword(password)});
  std::cout << (existed ? "updated " : "created ")
            << (o.site.database.empty() ? file : data::DisplayUrl(file)) << "; administrator "
            << o.user << (o.generate_password ? " with password " + password : std::string())
            << "\n";
  return 0;
}

struct ServeOptions {
  std::string config_file;
  std::optional<std::string> root, listen, page, web_path, hot_news, image_size, database;
  std::optional<int> threads;
};

server::ServerConfig BuildConfig(const ServeOptions& o) {
  server::ServerConfig config;
  if (!o.config_file.empty()) server::LoadConfigFile(o.config_file, config);
  if (o.root) config.root = *o.root;
  if (o.listen) config.listen = *o.listen;
  if (o.threads) config.threads = *o.threads;
  if (o.database) config.database_url = *o.database;
  if (config.pages.empty()) config.pages.emplace_back();
  // Page flags change the first page of the configuration.
  server::PageConfig& first = config.pages.front();
  if (o.page) first.path = *o.page;
  if (o.web_path) first.web_path = *o.web_path;
  if (o.hot_news) first.hot_news = *o.hot_news;
  if (o.image_size) first.image_size = *o.image_size;
  return config;
}

int RunServe(const ServeOptions& o) {
  server::ServerConfig config = BuildConfig(o);
  if (!fs::is_directory(config.root)) {
    throw std::runtime_error("the site folder " + config.root + " does not exist");
  }
  data::Pool pool(config.database_url);
  for (const server::PageConfig& page : config.pages) {
    try {
      CheckPageProperties(PropertiesOf(page));
    } catch (const Error& e) {
      throw std::runtime_error("page " + page.path + ": " + e.what());
    }
    const std::string file =
        config.database_url.empty() ? DatabaseFile(config.root, page) : config.database_url;
    try {
      pool.Get(file);
      CatchUpSearchIndex(file);
    } catch (const DataError& e) {
      if (config.database_url.empty() && !fs::exists(file)) {
        throw std::runtime_error("no database at " + file + "; run tessaly init --root " +
                                 config.root + " --page " + page.path + " --web-path '" +
                                 page.web_path.ToString() + "' --user NAME --password-stdin");
      }
      throw std::runtime_error(e.what());
    }
  }

  const SiteTexts& texts = config.texts;
  const pages::LogonLimits limits{
      .hash_slots = pages::LogonGuard::HashSlotsFor(static_cast<unsigned>(config.threads))};
  std::shared_ptr<data::SessionTable> shared;
  std::shared_ptr<server::Sessions> sessions;
  std::optional<SessionSweeper> sweeper;
  if (config.sessions_in_database) {
    if (config.database_url.empty()) {
      throw std::runtime_error("[session] store = \"database\" needs a [database] url");
    }
    shared = std::make_shared<data::SessionTable>(pool.Get(config.database_url),
                                                  config.session_timeout_minutes);
    sessions = std::make_shared<DatabaseSessions>(shared);
    sweeper.emplace(shared, config.max_sessions, limits.window);
  }
  pages::LogonGuard logons(limits, std::chrono::steady_clock::now, shared);
  pages::PublicCache cache(config.cache_max_bytes, server::ServingThreads(config));
  // On a database server, a request takes the generation the node's lease knows; when the
  // lease does not hold, its loop reads the generation without waiting for it.
  const data::Database* shared_database = nullptr;
  std::optional<data::NodeLease> lease;
  if (!config.database_url.empty()) {
    shared_database = pool.Get(config.database_url).get();
    lease.emplace(config.database_url);
  }
  // Each loop keeps the renderings of its own public pages.
  const auto loop_pages = [&](boost::asio::io_context& loop) {
    server::LoopPages made;
    std::shared_ptr<pages::OutputCache> renderings = cache.NewRenderings();
    made.handler = [&pool, &texts, &logons, &cache, renderings](host::ScriptingContext& context,
                                                                const server::PageConfig& page) {
      RunLogPage(pool, texts, logons, context, PropertiesOf(page), &cache, renderings.get());
    };
    if (!lease) return made;
    auto feed = std::make_shared<data::GenerationFeed>(loop, *shared_database);
    made.gate = [feed, &database = *shared_database, &known = *lease](std::function<void()> run) {
      if (const std::optional<std::uint64_t> generation = known.Generation()) {
        const data::StampLoan loan(database, data::GenerationStamp(*generation));
        return run();
      }
      feed->Enter(std::move(run));
    };
    return made;
  };
  server::WebServer web(config, loop_pages, sessions);
  web.Listen();
  std::cout << "tessaly serving " << config.root << " at " << web.Url() << std::endl;
  web.Run();
  spdlog::info("stopped");
  return 0;
}

struct BackupOptions {
  SiteLocation site;
  std::string to;
  bool force = false;
};

// Refuses a copy inside the site's folder under a name that a request could ask for: the
// server would hand the whole database, password hashes included, to whoever guessed it.
void RefuseServedTarget(const std::string& root, const std::string& to) {
  std::error_code ec;
  const fs::path site = fs::canonical(root, ec);
  if (ec) return;
  const fs::path target = fs::weakly_canonical(fs::absolute(to, ec), ec);
  if (ec) return;
  const fs::path inside = target.lexically_relative(site);
  if (inside.empty() || *inside.begin() == "..") return;
  if (server::IsNeverServedName("/" + inside.generic_string())) return;
  throw std::runtime_error(to +
                           " is inside the site folder, where it could be served: name it *.mdb "
                           "or write it elsewhere");
}

int RunBackup(const BackupOptions& o) {
  if (!o.site.database.empty()) {
    throw std::runtime_error("backup copies a site's file; a PostgreSQL database has pg_dump");
  }
  if (!fs::is_directory(o.site.root)) {
    throw std::runtime_error("the site folder " + o.site.root + " does not exist");
  }
  RefuseServedTarget(o.site.root, o.to);
  const std::string file = o.site.DatabaseFile();
  data::BackupOptions options;
  options.overwrite = o.force;
  const bool terminal = ::isatty(STDERR_FILENO);
  if (terminal) {
    options.progress = [](std::int64_t copied, std::int64_t total) {
      std::cerr << "\rcopied " << copied << " of " << total << " pages" << std::flush;
    };
  }
  data::BackupDatabase(file, o.to, options);
  if (terminal) std::cerr << "\n";
  std::cout << "copied " << file << " to " << o.to << "\n";
  return 0;
}

struct MigrateOptions {
  SiteLocation site;  // --from names its root folder, or the database file itself
  std::string to;
};

int RunMigrate(const MigrateOptions& o) {
  if (!data::IsDatabaseUrl(o.to)) throw std::runtime_error("--to must be a postgresql:// URL");
  const std::string file = fs::is_regular_file(o.site.root) ? o.site.root : o.site.DatabaseFile();
  const bool terminal = ::isatty(STDERR_FILENO);
  const auto migrated = data::MigrateToPostgres(
      file, o.to, [&](std::string_view what, std::int64_t done, std::int64_t total) {
        if (terminal) {
          std::cerr << "\rcopying " << what << ": " << done << " of " << total << std::flush;
          if (done == total) std::cerr << "\n";
        } else if (done == total || done % 100000 == 0) {
          spdlog::info("copying {}: {} of {}", what, done, total);
        }
      });
  CatchUpSearchIndex(o.to);
  std::cout << "copied " << file << " to " << data::DisplayUrl(o.to) << ": " << migrated.entries
            << " entries, " << migrated.accounts << " accounts, " << migrated.pictures
            << " pictures\n";
  return 0;
}

int RunMarkup(const text::MarkupCommandOptions& options) {
  std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  const std::string output = text::RunMarkupCommand(input, options);
  std::cout.write(output.data(), static_cast<std::streamsize>(output.size()));
  std::cout.flush();
  return std::cout ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Standard output carries only the answers of the commands (the URL, a conversion); the log
  // goes to standard error. A closed output pipe must not kill a server.
  spdlog::set_default_logger(spdlog::stderr_color_mt("tessaly"));
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{
      "Tessaly: a site log board with its own web server.\n"
      "Publishes short dated announcements, an embeddable block of the newest ones,\n"
      "and an admin area, all stored in a SQLite file inside the site folder."};
  app.set_version_flag("--version", std::string("tessaly ") + TESSALY_VERSION);
  app.require_subcommand(1);

  InitOptions init;
  CLI::App* init_cmd = app.add_subcommand(
      "init",
      "Create the database that serve opens (keeps existing entries) and create or "
      "reset an administrator account.");
  AddSiteOptions(*init_cmd, init.site);
  init_cmd->add_option("--user", init.user, "administrator name")->required();
  auto* pw = init_cmd->add_option("--password", init.password, "administrator password");
  auto* pw_stdin =
      init_cmd->add_flag("--password-stdin", init.password_stdin, "read the password from stdin");
  auto* pw_gen = init_cmd->add_flag("--generate-password", init.generate_password,
                                    "generate a random password and print it");
  pw->excludes(pw_stdin)->excludes(pw_gen);
  pw_stdin->excludes(pw_gen);

  ServeOptions serve;
  CLI::App* serve_cmd =
      app.add_subcommand("serve", "Serve the site: the log pages and static files.");
  serve_cmd->add_option("--config", serve.config_file, "TOML configuration file")
      ->check(CLI::ExistingFile);
  // The help states the defaults that serve falls back on, read from the settings themselves.
  const server::ServerConfig defaults;
  const server::PageConfig page_defaults;
  auto with_default = [](const std::string& what, const std::string& value) {
    return what + " (default " + value + ")";
  };
  serve_cmd->add_option("--database", serve.database,
                        "PostgreSQL database (postgresql://...) for every page; default: each "
                        "page's SQLite file");
  serve_cmd->add_option("--root", serve.root, with_default("site root folder", defaults.root));
  serve_cmd->add_option(
      "--listen", serve.listen,
      with_default("HOST:PORT to listen on; port 0 picks a free one", defaults.listen));
  serve_cmd->add_option("--page", serve.page,
                        with_default("virtual path of the log page", page_defaults.path));
  serve_cmd->add_option("--web-path", serve.web_path,
                        with_default("folder of the database", page_defaults.web_path.ToString()));
  serve_cmd->add_option(
      "--hot-news", serve.hot_news,
      with_default("entries in the hot news block", page_defaults.hot_news.ToString()));
  serve_cmd->add_option(
      "--image-size", serve.image_size,
      with_default("largest accepted upload in bytes", page_defaults.image_size.ToString()));
  serve_cmd
      ->add_option("--threads", serve.threads,
                   with_default("server threads; 0: one per core",
                                std::to_string(server::kThreads.default_value)))
      ->check(CLI::Range(server::kThreads.min, server::kThreads.max));

  text::MarkupCommandOptions markup;
  CLI::App* markup_cmd = app.add_subcommand(
      "markup", "Read a text on stdin and print what an entry would store for it.");
  markup_cmd->add_option("--script-name", markup.script_name, "page path used in picture links")
      ->capture_default_str();
  markup_cmd->add_flag("--title", markup.title, "treat the text as a title (escaping only)");
  markup_cmd->add_flag("--reverse", markup.reverse,
                       "print what the edit form shows for a stored content (or title)");

  BackupOptions backup;
  CLI::App* backup_cmd = app.add_subcommand(
      "backup",
      "Copy a site's live database to a file while the server runs: one consistent snapshot, "
      "checked before it is put in place.");
  AddSiteOptions(*backup_cmd, backup.site);
  backup_cmd->add_option("--to", backup.to, "the copy's file")->required();
  backup_cmd->add_flag("--force", backup.force, "replace the file if it exists");

  MigrateOptions migrate;
  CLI::App* migrate_cmd = app.add_subcommand(
      "migrate",
      "Copy a site's entries, accounts and pictures from its SQLite file into an empty "
      "PostgreSQL database, in one transaction.");
  migrate_cmd
      ->add_option("--from", migrate.site.root, "the site's root folder, or its database file")
      ->required();
  migrate_cmd->add_option("--page", migrate.site.page, "virtual path of the log page")
      ->capture_default_str();
  migrate_cmd
      ->add_option("--web-path", migrate.site.web_path,
                   "folder of the database under the root; empty: the page's folder")
      ->capture_default_str();
  migrate_cmd->add_option("--to", migrate.to, "the PostgreSQL database (postgresql://...)")
      ->required();

  CLI11_PARSE(app, argc, argv);

  try {
    if (*init_cmd) {
      if (init.password.empty() && !init.password_stdin && !init.generate_password) {
        throw std::runtime_error(
            "give the password with --password, --password-stdin or --generate-password");
      }
      return RunInit(init);
    }
    if (*serve_cmd) return RunServe(serve);
    if (*markup_cmd) return RunMarkup(markup);
    if (*backup_cmd) return RunBackup(backup);
    if (*migrate_cmd) return RunMigrate(migrate);
  } catch (const std::exception& e) {
    std::cerr << "tessaly: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
