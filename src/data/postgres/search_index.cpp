#include "data/postgres/search_index.h"

#include <algorithm>

#include "base/ascii.h"
#include "data/recordset.h"
#include "data/value.h"

namespace tessaly::data {
namespace {

std::int64_t IndexPostgresBatch(Connection& c, VisibleTextFn visible_text) {
  c.Begin();
  try {
    std::vector<Row> pending;
    // Locked: see CatchUpPostgresSearchIndex.
    c.Query("SELECT ID FROM SEARCH_PENDING ORDER BY ID LIMIT " + std::to_string(kIndexBatch) +
                " FOR UPDATE",
            {}, pending);
    std::string ids = "[";
    for (const Row& row : pending) ids += (ids.size() > 1 ? "," : "") + row[0].ToText();
    ids += "]";
    const std::string in_batch =
        " IN (SELECT value::bigint FROM json_array_elements_text(CAST(? AS json)))";
    std::vector<Row> entries;
    c.Query("SELECT ID, TITLE, CONTENT FROM MESSAGE WHERE ID" + in_batch, {ids}, entries);
    std::string texts = "[";
    for (const Row& entry : entries) {
      if (texts.size() > 1) texts += ',';
      texts += "{\"id\":" + entry[0].ToText() + ",\"text\":";
      AppendJsonString(texts, ascii::ToLower(visible_text(entry[1].ToText()) + "\n" +
                                             visible_text(entry[2].ToText())));
      texts += '}';
    }
    texts += "]";
    c.Execute("DELETE FROM MESSAGE_SEARCH WHERE ID" + in_batch, {ids});
    c.Execute(
        "INSERT INTO MESSAGE_SEARCH (ID, TEXT) SELECT id, text FROM "
        "json_to_recordset(CAST(? AS json)) AS r(id bigint, text text)",
        {texts});
    c.Execute("DELETE FROM SEARCH_PENDING WHERE ID" + in_batch, {ids});
    c.Commit();
    return static_cast<std::int64_t>(pending.size());
  } catch (...) {
    c.Rollback();
    throw;
  }
}

// A LIKE pattern that matches `word` anywhere, its own % _ and \ taken literally.
std::string ContainsPattern(std::string_view word) {
  std::string pattern = "%";
  for (char c : word) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

}  // namespace

void CatchUpPostgresSearchIndex(Connection& c, VisibleTextFn visible_text,
                                const ProgressFn& progress) {
  std::vector<Row> counted;
  c.Query("SELECT count(*) FROM SEARCH_PENDING", {}, counted);
  const std::int64_t total = counted.empty() ? 0 : counted[0][0].ToInt();
  if (total == 0) return;
  std::int64_t done = 0;
  while (true) {
    const std::int64_t n = IndexPostgresBatch(c, visible_text);
    if (n == 0) break;
    done += n;
    if (progress) progress(std::min(done, total), total);
  }
}

Query PostgresSearchQuery(const std::vector<std::string>& words) {
  Query query;
  query.table = "MESSAGE";
  query.sql =
      "SELECT M.ID AS ID, M.TITLE AS TITLE, M.STIME AS STIME FROM MESSAGE_SEARCH S "
      "JOIN MESSAGE M ON M.ID = S.ID WHERE TRUE";
  bool indexed = false;
  for (const std::string& word : words) {
    const std::string lower = ascii::ToLower(word);
    if (IsIndexedWord(word)) {
      indexed = true;
      query.sql += " AND S.TEXT LIKE ?";
      query.params.emplace_back(ContainsPattern(lower));
    } else {
      query.sql += " AND strpos(S.TEXT, ?) > 0";
      query.params.emplace_back(lower);
    }
  }
  // Short words alone scan as many entries as on SQLite.
  if (!indexed) {
    query.sql += " AND S.ID > (SELECT coalesce(max(ID), 0) FROM MESSAGE) - " +
                 std::to_string(kShortWordScanEntries);
  }
  query.sql += " ORDER BY M.STIME DESC, M.ID DESC";
  return query;
}

}  // namespace tessaly::data
