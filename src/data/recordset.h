// Rows of one query, walked the way the pages walk them: positioned on the first row when
// opened, moved forward one row at a time, paged by a page size. Rows are fetched lazily, so a
// page costs in proportion to the rows it reads, not to the size of the table.
//
// Rows are read in batches (a page and one row more once a page size is set), and each batch's
// statement is finished before the batch is handed out: no read transaction stays open while
// the page that walks the rows does anything else, such as writing the visitor's session.
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

namespace tessaly::data {

struct Query {
  std::string sql;              // a SELECT without LIMIT; request values only as "?" parameters
  std::vector<Value> params;    // bound in order
  std::string table;            // the one table the rows come from (for AddNew/Update)
  bool whole_table = false;     // the rows are the whole table: counted by the row counter
  std::int64_t batch_rows = 0;  // rows read at a time until a page size is set; 0: a default
};

class Recordset {
 public:
  // Opens `query` on `pooled`, positioned on the first row. Throws DataError.
  Recordset(PooledConnection pooled, Query query);
  // Opens `query` on a connection that the caller holds for longer than the recordset (one
  // read transaction for several recordsets). Throws DataError.
  Recordset(Connection& connection, Query query);
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // 1-based position of the current row; -1 when the result has no rows, -3 past the end.
  std::int64_t AbsolutePosition() const;
  bool Eof() const { return !HasRow(); }
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
  // Reads the batch of rows that starts at `offset` (0-based) and makes its first row current.
  void Fetch(std::int64_t offset);
  std::int64_t BatchRows() const;
  Connection& connection() const;
  bool HasRow() const {
    return open_ && position_ >= first_in_batch_ &&
           position_ < first_in_batch_ + static_cast<std::int64_t>(batch_.size());
  }
  const std::vector<Value>& Row() const { return batch_[position_ - first_in_batch_]; }

  PooledConnection pooled_;  // empty when the connection is the caller's
  Connection* connection_ = nullptr;
  Query query_;
  std::string paged_sql_;  // query_.sql with LIMIT and OFFSET parameters
  bool open_ = false;
  bool ever_had_row_ = false;
  std::int64_t position_ = 0;  // of the current row, from 1
  std::int64_t page_size_ = 10;
  bool paged_ = false;  // a page size was set: batches are one page and one row
  std::optional<std::int64_t> count_;
  std::vector<std::string> names_;
  std::vector<std::vector<Value>> batch_;  // rows from position first_in_batch_
  std::int64_t first_in_batch_ = 1;
  bool batch_complete_ = false;  // the batch reached the end of the result
  bool adding_ = false;
  std::map<std::string, Value> changes_;
};

// The row at `offset` (from 0) of `query`, or nothing past its end: one statement whose
// database steps over the rows before it without handing them out (LIMIT 1 OFFSET), which over
// an index costs a small part of reading them. Throws DataError.
std::optional<std::vector<Value>> RowAt(Connection& connection, const Query& query,
                                        std::int64_t offset);

// A Delete or Update statement on its own connection.
class Command {
 public:
  explicit Command(PooledConnection pooled) : pooled_(std::move(pooled)) {}
  // Runs `sql` with `params` bound in order; returns the number of rows changed.
  std::int64_t Execute(const std::string& sql, const std::vector<Value>& params = {});
  // Deletes the rows of `table` whose ID is one of `ids`, in one statement whatever their
  // number; returns how many went.
  std::int64_t DeleteIds(const std::string& table, const std::vector<std::int64_t>& ids);

 private:
  PooledConnection pooled_;
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_RECORDSET_H_
