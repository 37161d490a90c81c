#include "data/postgres/search_index.h"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <utility>

#include "base/ascii.h"
#include "data/recordset.h"
#include "data/search_order.h"
#include "data/value.h"
#include "text/search_terms.h"

namespace tessaly::data {
namespace {

// An entry with more distinct terms than this is kept without them (a tsvector holds at most
// 1 MB) and matched by its text alone.
constexpr std::size_t kMaxPostgresTerms = 50'000;

// PostgreSQL: each entry's row holds its key, its text folded as the terms are (ASCII letters
// in lower case) and its distinct terms as a tsvector, without positions. A word of one or
// two characters is one term, so the GIN index answers it; a longer word's bigrams narrow the
// entries to those that hold them all, and its text is checked for the word itself.
std::int64_t IndexPostgresBatch(Connection& c, VisibleTextFn visible_text) {
  c.Begin();
  try {
    std::vector<Row> pending;
    // Locked, so that two nodes catching up at once take turns; a search waits for the batch
    // in flight rather than answering from an index that lacks it.
    c.Query("SELECT ID FROM SEARCH_PENDING ORDER BY ID LIMIT " + std::to_string(kIndexBatch) +
                " FOR UPDATE",
            {}, pending);
    std::string ids = "[";
    for (const Row& row : pending) ids += (ids.size() > 1 ? "," : "") + row[0].ToText();
    ids += "]";
    const std::string in_batch =
        " IN (SELECT value::bigint FROM json_array_elements_text(CAST(? AS json)))";
    c.Execute("DELETE FROM SEARCH_TERMS WHERE ID" + in_batch, {ids});
    std::vector<Row> entries;
    c.Query("SELECT ID, TITLE, CONTENT, STIME FROM MESSAGE WHERE ID" + in_batch, {ids}, entries);
    std::string rows = "[";
    std::set<std::int64_t> keys;
    for (const Row& entry : entries) {
      const std::int64_t id = entry[0].ToInt();
      std::int64_t key = SearchOrderKey(entry[3].ToText(), id);
      while (key < 0) {  // only keys of ids beyond the ordered range can meet another's
        std::vector<Row> taken;
        c.Query("SELECT 1 FROM SEARCH_TERMS WHERE KEY = ?", {key}, taken);
        if (taken.empty() && !keys.contains(key)) break;
        --key;
      }
      keys.insert(key);
      const std::string text = IndexedText(visible_text, entry[1].ToText(), entry[2].ToText());
      std::unordered_set<std::string> terms;
      text::ForEachTextTerm(text, [&](std::string_view term, std::size_t, bool) {
        if (terms.size() <= kMaxPostgresTerms) terms.emplace(term);
      });
      if (rows.size() > 1) rows += ',';
      rows += "{\"id\":" + std::to_string(id) + ",\"key\":" + std::to_string(key) + ",\"text\":";
      AppendJsonString(rows, ascii::ToLower(text));
      rows += ",\"terms\":";
      if (terms.size() > kMaxPostgresTerms) {
        rows += "null";
      } else {
        rows += '[';
        bool first = true;
        for (const std::string& term : terms) {
          if (!std::exchange(first, false)) rows += ',';
          AppendJsonString(rows, term);
        }
        rows += ']';
      }
      rows += '}';
    }
    rows += "]";
    c.Execute(
        "INSERT INTO SEARCH_TERMS (ID, KEY, TEXT, TERMS) SELECT r.id, r.key, r.text, "
        "CASE WHEN r.terms IS NULL THEN NULL ELSE "
        "array_to_tsvector(ARRAY(SELECT json_array_elements_text(r.terms))) END "
        "FROM json_to_recordset(CAST(? AS json)) AS r(id bigint, key bigint, text text, terms "
        "json)",
        {rows});
    c.Execute("DELETE FROM SEARCH_PENDING WHERE ID" + in_batch, {ids});
    c.Commit();
    return static_cast<std::int64_t>(pending.size());
  } catch (...) {
    c.Rollback();
    throw;
  }
}

// A lexeme of a tsquery, quoted: nothing in it is an operator.
void AppendLexeme(std::string& query, std::string_view term) {
  query += '\'';
  for (char c : term) {
    if (c == '\'') query += '\'';
    if (c == '\\') query += '\\';
    query += c;
  }
  query += '\'';
}

// The conditions on SEARCH_TERMS S that an entry matches every word, with their parameters:
// for a row with terms, its terms (a longer word's bigrams) and then its text for each longer
// word; for a row kept without terms, its text for every word. The two are asked apart, so that
// each is planned on its own index rather than an OR that spoils both.
struct Match {
  std::string indexed;
  std::vector<Value> indexed_params;
  std::string unsplit;
  std::vector<Value> unsplit_params;
};

Match PostgresMatch(const std::vector<std::string>& words) {
  Match match;
  std::string tsquery;
  std::string checked;
  for (const std::string& word : words) {
    const std::vector<std::string> terms = text::WordTerms(word);
    for (const std::string& term : terms) {
      if (!tsquery.empty()) tsquery += " & ";
      AppendLexeme(tsquery, term);
    }
    const std::string folded = ascii::ToLower(word);
    if (terms.size() > 1) {
      checked += " AND strpos(S.TEXT, ?) > 0";
      match.indexed_params.emplace_back(folded);
    }
    match.unsplit += " AND strpos(S.TEXT, ?) > 0";
    match.unsplit_params.emplace_back(folded);
  }
  match.indexed_params.insert(match.indexed_params.begin(), Value(tsquery));
  match.indexed = "S.TERMS @@ CAST(? AS tsquery)" + checked;
  match.unsplit = "S.TERMS IS NULL" + match.unsplit;
  return match;
}

void Append(std::vector<Value>& to, const std::vector<Value>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// The matches of `words` as a page query, rows `window`: each half ordered and cut on its own
// index, then the two merged.
Query PageQuery(const std::vector<std::string>& words, const PageWindow& window) {
  const Match match = PostgresMatch(words);
  const std::string order = window.from_oldest ? " ASC" : " DESC";
  const std::string cut = " ORDER BY S.KEY" + order + " LIMIT ?";
  const std::int64_t reach = window.limit + window.offset;
  Query query;
  query.table = "MESSAGE";
  query.sql =
      "SELECT M.ID AS ID, M.TITLE AS TITLE, M.STIME AS STIME FROM (SELECT U.ID, U.KEY "
      "FROM ((SELECT S.ID, S.KEY FROM SEARCH_TERMS S WHERE " +
      match.indexed + cut + ") UNION ALL (SELECT S.ID, S.KEY FROM SEARCH_TERMS S WHERE " +
      match.unsplit + cut + ")) U ORDER BY U.KEY" + order +
      " LIMIT ? OFFSET ?) P JOIN MESSAGE M ON M.ID = P.ID ORDER BY P.KEY DESC";
  Append(query.params, match.indexed_params);
  query.params.emplace_back(reach);
  Append(query.params, match.unsplit_params);
  query.params.emplace_back(reach);
  query.params.emplace_back(window.limit);
  query.params.emplace_back(window.offset);
  query.batch_rows = std::max<std::int64_t>(window.limit, 1) + 1;
  return query;
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

Query PostgresSearchCountQuery(const std::vector<std::string>& words) {
  const Match match = PostgresMatch(words);
  Query query;
  query.sql = "SELECT (SELECT count(*) FROM SEARCH_TERMS S WHERE " + match.indexed +
              ") + (SELECT count(*) FROM SEARCH_TERMS S WHERE " + match.unsplit + ") AS N";
  Append(query.params, match.indexed_params);
  Append(query.params, match.unsplit_params);
  return query;
}

Query PostgresSearchPageQuery(const std::vector<std::string>& words, std::int64_t first,
                              std::int64_t rows, std::int64_t total) {
  return PageQuery(words, WindowOf(first, rows, total));
}

}  // namespace tessaly::data
