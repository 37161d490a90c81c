#include "pages/page_context.h"

#include "data/location.h"
#include "text/visible_text.h"

namespace tessaly::pages {

data::Database& PageDatabase::Get() const {
  if (!database_) {
    const std::string file = web_path_.empty()
                                 ? data::DatabaseFileFor({}, server_.MapPath("."), web_path_)
                                 : data::DatabaseFileFor(server_.MapPath("/"), {}, web_path_);
    database_ = &pool_.Reach(file);
  }
  return *database_;
}

std::unique_ptr<data::Recordset> PageDatabase::Open(data::Query query) const {
  if (reading_) return std::make_unique<data::Recordset>(*reading_, std::move(query));
  stamp_.reset();  // the recordset may add or change a row
  wrote_ = true;
  return std::make_unique<data::Recordset>(Get().Acquire(), std::move(query));
}

data::Command PageDatabase::Command() const {
  stamp_.reset();
  wrote_ = true;
  return data::Command(Get().Acquire());
}

data::Stamp PageDatabase::CurrentStamp() const {
  data::Database& database = Get();
  // A stamp that costs nothing is read each time.
  if (database.StampsAreFree()) return database.CurrentStamp();
  if (!stamp_) stamp_ = wrote_ ? database.CurrentStamp() : database.RequestStamp();
  return *stamp_;
}

void PageDatabase::CatchUpSearchIndex() const {
  data::Database& database = Get();
  database.CatchUpSearchIndex(*database.Acquire(), text::VisibleText);
}

data::Stamp PageDatabase::ReadOneState(
    const std::function<void(data::Connection&, const data::Stamp& state)>& read) const {
  return Get().ReadOneState([&](data::Connection& connection, const data::Stamp& state) {
    reading_ = &connection;
    try {
      read(connection, state);
    } catch (...) {
      reading_ = nullptr;
      throw;
    }
    reading_ = nullptr;
  });
}

}  // namespace tessaly::pages
