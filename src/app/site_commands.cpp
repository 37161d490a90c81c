#include "app/site_commands.h"

#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>

#include "admin/passwords.h"
#include "app/progress.h"
#include "base/errors.h"
#include "data/database.h"
#include "data/location.h"
#include "data/migrate.h"
#include "server/static_files.h"

namespace fs = std::filesystem;

namespace tessaly::app {
namespace {

std::string GeneratePassword() {
  static constexpr char kAlphabet[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::random_device device;
  std::uniform_int_distribution<int> pick(0, sizeof kAlphabet - 2);
  std::string password;
  for (int i = 0; i < 16; ++i) password += kAlphabet[pick(device)];
  return password;
}

// The password that the flags give, read from standard input, or made.
std::string PasswordOf(const InitFlags& o) {
  std::string password = o.password;
  if (o.password_stdin) {
    if (!std::getline(std::cin, password)) {
      throw std::runtime_error("no password on standard input");
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
  }
  if (o.generate_password) password = GeneratePassword();
  if (password.empty()) throw std::runtime_error("the password must not be empty");
  return password;
}

// Whether the database at the site's location holds a site already; creates the folders that a
// site's file lives in.
bool PrepareLocation(const SiteLocation& site, const std::string& location) {
  if (site.OnServer()) {
    try {
      data::Database::Open(location);  // refuses a database without our tables
      return true;
    } catch (const DataError&) {
      return false;  // or unreachable, which Create then reports
    }
  }
  fs::create_directories(fs::path(location).parent_path());
  return fs::exists(location);
}

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

}  // namespace

int RunInit(const InitFlags& o) {
  if (o.password.empty() && !o.password_stdin && !o.generate_password) {
    throw std::runtime_error(
        "give the password with --password, --password-stdin or --generate-password");
  }
  const std::string password = PasswordOf(o);
  // A site's file is found from its root folder, which must exist first; a database is not.
  if (!o.site.OnServer()) fs::create_directories(o.site.root);
  const std::string location = o.site.Location();
  const bool existed = PrepareLocation(o.site, location);
  data::Database::Create(location);
  CatchUpSearchIndex(location);
  admin::StoreAdministrator(*data::Database::Open(location), o.user, password);
  std::cout << (existed ? "updated " : "created ") << data::DisplayLocation(location)
            << "; administrator " << o.user
            << (o.generate_password ? " with password " + password : std::string()) << "\n";
  return 0;
}

int RunBackup(const BackupFlags& o) {
  if (!o.site.OnServer()) {
    if (!fs::is_directory(o.site.root)) {
      throw std::runtime_error("the site folder " + o.site.root + " does not exist");
    }
    RefuseServedTarget(o.site.root, o.to);
  }
  const std::string location = o.site.Location();
  data::CopyOptions options;
  options.overwrite = o.force;
  options.progress = Progress([](std::int64_t done, std::int64_t total) {
    return "copied " + std::to_string(done) + " of " + std::to_string(total) + " pages";
  });
  data::Database::Backup(location, o.to, options);
  std::cout << "copied " << location << " to " << o.to << "\n";
  return 0;
}

int RunMigrate(const MigrateFlags& o) {
  if (!data::IsDatabaseUrl(o.to)) throw std::runtime_error("--to must be a postgresql:// URL");
  const std::string file = fs::is_regular_file(o.site.root) ? o.site.root : o.site.Location();
  std::map<std::string, Progress, std::less<>> phases;
  const auto migrated = data::MigrateSite(
      file, o.to, [&](std::string_view what, std::int64_t done, std::int64_t total) {
        auto phase = phases.find(what);
        if (phase == phases.end()) {
          const std::string label = "copying " + std::string(what) + ": ";
          phase = phases
                      .emplace(what, Progress(
                                         [label](std::int64_t d, std::int64_t t) {
                                           return label + std::to_string(d) + " of " +
                                                  std::to_string(t);
                                         },
                                         100000))
                      .first;
        }
        phase->second(done, total);
      });
  CatchUpSearchIndex(o.to);
  std::cout << "copied " << file << " to " << data::DisplayLocation(o.to) << ": "
            << migrated.entries << " entries, " << migrated.accounts << " accounts, "
            << migrated.pictures << " pictures\n";
  return 0;
}

int RunMarkup(const text::MarkupCommandOptions& options) {
  std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  const std::string output = text::RunMarkupCommand(input, options);
  std::cout.write(output.data(), static_cast<std::streamsize>(output.size()));
  std::cout.flush();
  return std::cout ? 0 : 1;
}

}  // namespace tessaly::app
