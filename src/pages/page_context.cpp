#include "pages/page_context.h"

#include "data/location.h"
#include "data/search_index.h"
#include "text/visible_text.h"

namespace tessaly::pages {

std::shared_ptr<data::Database> PageDatabase::Get() const {
  const std::string file = web_path_.empty()
                               ? data::DatabaseFileFor({}, server_.MapPath("."), web_path_)
                               : data::DatabaseFileFor(server_.MapPath("/"), {}, web_path_);
  return pool_.Get(file);
}

std::unique_ptr<data::Recordset> PageDatabase::Open(data::Query query) const {
  return std::make_unique<data::Recordset>(Get()->Acquire(), std::move(query));
}

data::Command PageDatabase::Command() const { return data::Command(Get()->Acquire()); }

void PageDatabase::CatchUpSearchIndex() const {
  data::Lease lease = Get()->Acquire();
  data::CatchUpSearchIndex(*lease, text::VisibleText);
}

}  // namespace tessaly::pages
