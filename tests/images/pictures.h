// Pictures for the tests: rows stored as another tool would store them, and upload bodies built
// the way browsers send the upload form.
#ifndef TESSALY_TESTS_IMAGES_PICTURES_H_
#define TESSALY_TESTS_IMAGES_PICTURES_H_

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tessaly::testing {

// Adds an IMAGE row to the database file; returns its ID.
inline std::int64_t InsertPicture(const std::string& file, const std::string& name,
                                  const std::string& type, const std::string& bytes,
                                  const std::string& stime = "2026-03-01 10:00:05.125") {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open");
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO IMAGE (NAME, TYPE, DATA, STIME) VALUES (?, ?, ?, ?)", -1,
                     &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, type.data(), static_cast<int>(type.size()), SQLITE_TRANSIENT);
  sqlite3_bind_blob(stmt, 3, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 4, stime.data(), static_cast<int>(stime.size()), SQLITE_TRANSIENT);
  const int rc = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  const std::int64_t id = sqlite3_last_insert_rowid(db);
  sqlite3_close(db);
  if (rc != SQLITE_DONE) throw std::runtime_error("cannot store picture " + name);
  return id;
}

// The body that a browser posts from the upload form: the file part, then (unless left out)
// the submit button's part, then the closing delimiter.
struct FormUpload {
  std::string file_name = "logo.gif";  // as the browser writes it after filename=
  std::string type = "image/gif";
  std::string bytes{"GIF89a\0\x01\xff", 9};
  bool submit_button = true;
  std::string boundary = "----WebKitFormBoundaryq7ZfA2nM0c4kLsXe";

  std::string Body() const {
    const std::string delimiter = "--" + boundary + "\r\n";
    std::string body = delimiter + "Content-Disposition: form-data; name=\"image\"; filename=\"" +
                       file_name + "\"\r\nContent-Type: " + type + "\r\n\r\n" + bytes + "\r\n";
    if (submit_button) {
      body += delimiter + "Content-Disposition: form-data; name=\"B1\"\r\n\r\n 确  定 \r\n";
    }
    return body + "--" + boundary + "--\r\n";
  }
  std::string ContentType() const { return "multipart/form-data; boundary=" + boundary; }
};

}  // namespace tessaly::testing

#endif  // TESSALY_TESTS_IMAGES_PICTURES_H_
