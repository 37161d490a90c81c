// One connection to a log database, whatever engine keeps it (backend.h). The pages write their SQL
// in the subset that every backend reads alike, with "?" for each bound value; where the engines
// differ, the connection offers a named operation instead.
//
// A connection is used by one thread at a time (a PooledConnection lends it). Every method throws
// DataError on failure; a connection that lost its server says so through Broken() and is
// never lent again.
#ifndef TESSALY_DATA_CONNECTION_H_
#define TESSALY_DATA_CONNECTION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/change_watch.h"
#include "data/value.h"

namespace tessaly::data {

using Row = std::vector<Value>;

class Connection {
 public:
  virtual ~Connection() = default;

  // Runs the query `sql` with `params` bound in order to its "?" marks and appends its rows to
  // `rows`; when `names` is given and empty, it receives the column names. No statement stays
  // open once it returns.
  virtual void Query(const std::string& sql, const std::vector<Value>& params,
                     std::vector<Row>& rows, std::vector<std::string>* names = nullptr) = 0;

  // Runs a statement that returns no rows; returns the number of rows it changed.
  virtual std::int64_t Execute(const std::string& sql, const std::vector<Value>& params = {}) = 0;

  // A write transaction: Begin takes the write lock at once where the engine has one.
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() noexcept = 0;

  // Starts a read-only transaction in which every read sees one committed state, and returns
  // that state's stamp: known when the state is known exactly (change_watch.h). `watch` is the
  // database's own. End it with Commit or Rollback.
  virtual Stamp BeginReadState(const ChangeWatch& watch) = 0;

  // A condition on `column` that holds for the ids of one bound parameter, the ids written as
  // a JSON array ("[1,2,3]"), so that a list of any length is one statement and one value.
  virtual std::string InIdList(std::string_view column) const = 0;

  // False once the connection is lost or left inside a transaction: it is then not reused.
  virtual bool Reusable() const = 0;
  // True when the server went away under it: its siblings in a pool are as likely gone.
  virtual bool Broken() const { return false; }
};

}  // namespace tessaly::data

#endif  // TESSALY_DATA_CONNECTION_H_
