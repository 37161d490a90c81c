#include "data/recordset.h"

#include <sqlite3.h>

#include <algorithm>

#include "base/ascii.h"
#include "base/errors.h"

namespace tessaly::data {
namespace {

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
    throw DataError(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

void Bind(sqlite3_stmt* stmt, int index, const Value& value) {
  sqlite3* db = sqlite3_db_handle(stmt);
  struct Visitor {
    sqlite3_stmt* s;
    int i;
    int operator()(std::monostate) const { return sqlite3_bind_null(s, i); }
    int operator()(std::int64_t v) const { return sqlite3_bind_int64(s, i, v); }
    int operator()(double v) const { return sqlite3_bind_double(s, i, v); }
    int operator()(const std::string& v) const {
      return sqlite3_bind_text64(s, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    int operator()(const Blob& v) const {
      return sqlite3_bind_blob64(s, i, v.bytes.data(), v.bytes.size(), SQLITE_TRANSIENT);
    }
  };
  Check(db, std::visit(Visitor{stmt, index}, value.Get()), "cannot bind parameter");
}

void BindAll(sqlite3_stmt* stmt, const std::vector<Value>& params) {
  int index = 1;
  for (const Value& p : params) Bind(stmt, index++, p);
}

Value ColumnValue(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
      return Value(static_cast<std::int64_t>(sqlite3_column_int64(stmt, i)));
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(stmt, i));
    case SQLITE_BLOB: {
      const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, i));
      return Value(Blob{std::string(data ? data : "", sqlite3_column_bytes(stmt, i))});
    }
    case SQLITE_NULL:
      return Value();
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      return Value(std::string(text ? text : "", sqlite3_column_bytes(stmt, i)));
    }
  }
}

// Column names go into SQL text, so only plain identifiers are accepted.
const std::string& Identifier(const std::string& name) {
  if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
               (c >= '0' && c <= '9');
      })) {
    throw DataError("bad column name \"" + name + "\"");
  }
  return name;
}

std::int64_t StepScalar(Connection& connection, const std::string& sql,
                        const std::vector<Value>& params) {
  sqlite3_stmt* stmt = connection.Prepare(sql);
  BindAll(stmt, params);
  int rc = sqlite3_step(stmt);
  std::int64_t result = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
  sqlite3_reset(stmt);
  Check(connection.handle(), rc, "cannot count rows");
  return result;
}

}  // namespace

// Rows read per batch before a page size is set: enough for the blocks that walk the newest
// entries without paging, small enough to cost nothing when a page then moves elsewhere.
constexpr std::int64_t kUnpagedBatchRows = 64;

Recordset::Recordset(Lease lease, Query query) : Recordset(*lease, std::move(query)) {
  lease_ = std::move(lease);
}

Recordset::Recordset(Connection& connection, Query query)
    : connection_(&connection),
      query_(std::move(query)),
      paged_sql_(query_.sql + " LIMIT ? OFFSET ?") {
  open_ = true;
  Fetch(0);
  ever_had_row_ = HasRow();
}

Recordset::~Recordset() { Close(); }

Connection& Recordset::connection() const {
  if (!open_) throw DataError("operation is not allowed when the recordset is closed");
  return *connection_;
}

std::int64_t Recordset::BatchRows() const {
  if (paged_) return page_size_ + 1;
  return query_.batch_rows > 0 ? query_.batch_rows : kUnpagedBatchRows;
}

void Recordset::Fetch(std::int64_t offset) {
  Connection& c = connection();
  sqlite3_stmt* stmt = c.Prepare(paged_sql_);
  BindAll(stmt, query_.params);
  const int n = static_cast<int>(query_.params.size());
  const std::int64_t rows = BatchRows();
  Bind(stmt, n + 1, Value(rows));
  Bind(stmt, n + 2, Value(offset));
  const int columns = sqlite3_column_count(stmt);
  if (names_.empty()) {
    for (int i = 0; i < columns; ++i) names_.emplace_back(sqlite3_column_name(stmt, i));
  }
  batch_.clear();
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<Value>& row = batch_.emplace_back();
    row.reserve(columns);
    for (int i = 0; i < columns; ++i) row.push_back(ColumnValue(stmt, i));
  }
  sqlite3_reset(stmt);  // ends the read before the rows are handed out
  Check(c.handle(), rc, "cannot read rows");
  batch_complete_ = static_cast<std::int64_t>(batch_.size()) < rows;
  first_in_batch_ = offset + 1;
  position_ = offset + 1;
}

std::int64_t Recordset::AbsolutePosition() const {
  if (HasRow()) return position_;
  return ever_had_row_ ? -3 : -1;
}

void Recordset::MoveNext() {
  if (!HasRow()) throw DataError("either BOF or EOF is true, or the current record was deleted");
  ++position_;
  if (!HasRow() && !batch_complete_) Fetch(position_ - 1);
}

std::int64_t Recordset::RecordCount() {
  if (!count_) {
    if (query_.whole_table) {
      count_ = StepScalar(connection(), "SELECT N FROM ROW_COUNT WHERE NAME = ?", {query_.table});
    } else {
      count_ = StepScalar(connection(), "SELECT count(*) FROM (" + query_.sql + ")", query_.params);
    }
  }
  return *count_;
}

void Recordset::SetPageSize(std::int64_t rows) {
  if (rows < 1) throw DataError("page size must be at least 1");
  page_size_ = rows;
  paged_ = true;
}

std::int64_t Recordset::PageCount() {
  const std::int64_t count = RecordCount();
  return (count + page_size_ - 1) / page_size_;
}

void Recordset::SetAbsolutePage(std::int64_t page) {
  if (page < 1 || page > PageCount())
    throw DataError("page " + std::to_string(page) + " is out of range");
  Fetch((page - 1) * page_size_);
}

const Value& Recordset::Field(const std::string& name) const {
  if (adding_) {
    auto it = changes_.find(name);
    if (it != changes_.end()) return it->second;
  }
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (ascii::EqualsNoCase(names_[i], name)) {
      if (!HasRow()) throw DataError("either BOF or EOF is true: no current row for " + name);
      return Row()[i];
    }
  }
  throw DataError("item " + name + " not found in the collection");
}

void Recordset::AddNew() {
  connection();
  adding_ = true;
  changes_.clear();
}

void Recordset::SetField(const std::string& name, Value value) {
  connection();
  if (!adding_ && !HasRow()) throw DataError("no current row to change");
  changes_[Identifier(name)] = std::move(value);
}

void Recordset::AppendChunk(const std::string& name, std::string_view bytes) {
  connection();
  if (!adding_ && !HasRow()) throw DataError("no current row to change");
  Value& field = changes_[Identifier(name)];
  std::string data = field.IsNull() ? std::string() : field.ToText();
  data.append(bytes);
  field = Value(Blob{std::move(data)});
}

void Recordset::Update() {
  Connection& c = connection();
  if (query_.table.empty()) throw DataError("the recordset is not updatable");
  const std::string table = Identifier(query_.table);
  std::vector<Value> params;
  std::string sql;
  if (adding_) {
    std::string columns, marks;
    for (auto& [name, value] : changes_) {
      if (!columns.empty()) columns += ", ", marks += ", ";
      columns += name;
      marks += "?";
      params.push_back(value);
    }
    sql = columns.empty() ? "INSERT INTO " + table + " DEFAULT VALUES"
                          : "INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")";
  } else {
    if (changes_.empty()) return;
    const Value id = Field("ID");
    std::string sets;
    for (auto& [name, value] : changes_) {
      if (!sets.empty()) sets += ", ";
      sets += name + " = ?";
      params.push_back(value);
    }
    params.push_back(id);
    sql = "UPDATE " + table + " SET " + sets + " WHERE ID = ?";
  }
  sqlite3_stmt* stmt = c.Prepare(sql);
  BindAll(stmt, params);
  int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  Check(c.handle(), rc, "cannot store the row");
  adding_ = false;
  changes_.clear();
}

void Recordset::Close() {
  if (!open_) return;
  open_ = false;
  batch_.clear();
  lease_ = Lease();
  connection_ = nullptr;
}

std::optional<std::vector<Value>> RowAt(Connection& connection, const Query& query,
                                        std::int64_t offset) {
  sqlite3_stmt* stmt = connection.Prepare(query.sql + " LIMIT 1 OFFSET ?");
  BindAll(stmt, query.params);
  Bind(stmt, static_cast<int>(query.params.size()) + 1, Value(offset));
  std::optional<std::vector<Value>> row;
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    row.emplace();
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) row->push_back(ColumnValue(stmt, c));
  }
  sqlite3_reset(stmt);
  Check(connection.handle(), rc, "cannot read rows");
  return row;
}

std::int64_t Command::Execute(const std::string& sql, const std::vector<Value>& params) {
  sqlite3_stmt* stmt = lease_->Prepare(sql);
  BindAll(stmt, params);
  int rc = sqlite3_step(stmt);
  while (rc == SQLITE_ROW) rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  Check(lease_->handle(), rc, "cannot run the statement");
  return sqlite3_changes64(lease_->handle());
}

}  // namespace tessaly::data
