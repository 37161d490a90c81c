// Rows of one query, walked the way the pages walk them: positioned on the first row when
// opened, moved forward one row at a time, paged by a page size. Rows are fetched lazily, so a
// page costs in proportion to the rows it reads, not to the size of the table.
#ifndef TESSALY_DATA_RECORDSET_H_
#define TESSALY_DATA_RECORDSET_H_

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/database.h"
#include "data/value.h"

struct sqlite3_stmt;

namespace tessaly::data {

struct Query {
  std::string sql;            // a SELECT without LIMIT; request values only as "?" parameters
  std::vector<Value> params;  // bound in order
  std::string table;          // the one table the rows come from (for AddNew/Update)
  bool whole_table = false;   // the rows are the whole table: counted by the row counter
};

class Recordset {
 public:
  // Opens `query` on `lease`, positioned on the first row. Throws DataError.
  Recordset(Lease lease, Query query);
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // 1-based position of the current row; -1 when the result has no rows, -3 past the end.
  std::int64_t AbsolutePosition() const;
  bool Eof() const { return !has_row_; }
  void MoveNext();

  std::int64_t RecordCount();
  void SetPageSize(std::int64_t rows);  // rows < 1 is refused with DataError
  std::int64_t PageCount();
  // The first row of page `page` (from 1) becomes current. Throws DataError outside 1..PageCount.
  void SetAbsolutePage(std::int64_t page);

  // The named column of the current row (or of the row being added). Throws DataError for an
  // unknown column or when there is no current row.
  const Value& Field(const std::string& name) const;

  // AddNew starts a new row; SetField and AppendChunk fill the added or current row; Update
  // stores it (an INSERT after AddNew, else an UPDATE of the current row by its ID).
  void AddNew();
  void SetField(const std::string& name, Value value);
  void AppendChunk(const std::string& name, std::string_view bytes);
  void Update();

  void Close();
  bool IsOpen() const { return open_; }

 private:
  void Execute(std::int64_t offset);
  void ReadRow();
  Connection& connection() const;

  Lease lease_;
  Query query_;
  std::string paged_sql_;  // query_.sql with LIMIT and OFFSET parameters
  sqlite3_stmt* stmt_ = nullptr;
  bool open_ = false;
  bool has_row_ = false;
  bool ever_had_row_ = false;
  std::int64_t position_ = 0;
  std::int64_t page_size_ = 10;
  std::optional<std::int64_t> count_;
  std::vector<std::string> names_;
  std::vector<Value> row_;
  bool adding_ = false;
  std::map<std::string, Value> changes_;
};

// A Delete or Update statement on its own connection.
class Command {
 public:
  explicit Command(Lease lease) : lease_(std::move(lease)) {}
  // Runs `sql` with `params` bound in order; returns the number of rows changed.
  std::int64_t Execute(const std::string& sql, const std::vector<Value>& params = {});

 private:
  Lease lease_;
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_RECORDSET_H_
