#include "data/recordset.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/errors.h"

namespace tessaly::data {
namespace {

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
  std::vector<Row> rows;
  connection.Query(sql, params, rows);
  return rows.empty() || rows[0].empty() ? 0 : rows[0][0].ToInt();
}

}  // namespace

// Rows read per batch before a page size is set: enough for the blocks that walk the newest
// entries without paging, small enough to cost nothing when a page then moves elsewhere.
constexpr std::int64_t kUnpagedBatchRows = 64;

Recordset::Recordset(PooledConnection pooled, Query query) : Recordset(*pooled, std::move(query)) {
  pooled_ = std::move(pooled);
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
  const std::int64_t rows = BatchRows();
  std::vector<Value> params;
  params.reserve(query_.params.size() + 2);
  params.insert(params.end(), query_.params.begin(), query_.params.end());
  params.emplace_back(rows);
  params.emplace_back(offset);
  batch_.clear();
  c.Query(paged_sql_, params, batch_, &names_);
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
      count_ =
          StepScalar(connection(), "SELECT count(*) FROM (" + query_.sql + ") AS Q", query_.params);
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
  c.Execute(sql, params);
  adding_ = false;
  changes_.clear();
}

void Recordset::Close() {
  if (!open_) return;
  open_ = false;
  batch_.clear();
  pooled_ = PooledConnection();
  connection_ = nullptr;
}

std::optional<std::vector<Value>> RowAt(Connection& connection, const Query& query,
                                        std::int64_t offset) {
  std::vector<Value> params = query.params;
  params.emplace_back(offset);
  std::vector<Row> rows;
  connection.Query(query.sql + " LIMIT 1 OFFSET ?", params, rows);
  if (rows.empty()) return std::nullopt;
  return std::move(rows.front());
}

std::int64_t Command::Execute(const std::string& sql, const std::vector<Value>& params) {
  return pooled_->Execute(sql, params);
}

std::int64_t Command::DeleteIds(const std::string& table, const std::vector<std::int64_t>& ids) {
  std::string json = "[";
  for (std::int64_t id : ids) {
    if (json.size() > 1) json += ',';
    json += std::to_string(id);
  }
  json += "]";
  return Execute("DELETE FROM " + Identifier(table) + " WHERE " + pooled_->InIdList("ID"), {json});
}

}  // namespace tessaly::data
