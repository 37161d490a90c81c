// LOG: the log board component. A page creates one object per request, hands it the page's
// scripting context with OnStartPage, sets the three properties and calls Main, which writes
// the whole answer for the request's "action"; OnEndPage releases what the object still holds.
//
// One object serves one request on one thread and shares nothing with other objects, except
// the connection pool it is given. Every failure is thrown as tessaly::Error; output written
// before it stays written.
#ifndef TESSALY_COMPONENT_LOG_H_
#define TESSALY_COMPONENT_LOG_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "component/site_texts.h"
#include "data/database.h"
#include "data/recordset.h"
#include "host/host.h"
#include "host/variant.h"

namespace tessaly {

// The log database of a page: logs.mdb in the WebPath folder under the site's root folder, or
// beside the page when WebPath is empty. Backslashes in WebPath separate folders. Both folders
// are physical paths without a trailing separator.
std::string DatabaseFileFor(const std::string& root_folder, const std::string& page_folder,
                            std::string web_path);

class LOG {
 public:
  // `pool` and `texts` must outlive the object.
  LOG(data::Pool& pool, const SiteTexts& texts) : pool_(pool), texts_(texts) {}

  void OnStartPage(host::ScriptingContext& context);
  void OnEndPage();

  host::Variant WebPath() const { return host::Variant(web_path_); }
  void SetWebPath(const host::Variant& value) { web_path_ = value.ToString(); }
  host::Variant HotNewsRCs() const { return host::Variant(hot_news_rcs_); }
  void SetHotNewsRCs(const host::Variant& value) { hot_news_rcs_ = value.ToInt32(); }
  host::Variant ImageSize() const { return host::Variant(image_size_); }
  void SetImageSize(const host::Variant& value) { image_size_ = value.ToInt32(); }

  // Writes the page that the request item "action" asks for.
  void Main();

 private:
  friend class LogTestPeer;  // lets unit tests call the building blocks directly

  // Data access: the folder of the database and the data objects of this request.
  std::string DatabasePath() const;
  void OpenRecordset();
  void OpenCommand();

  // Building blocks.
  void ShowMessage(const std::string& title, const std::string& text, int kind,
                   const std::string& url = std::string());
  std::string Footer() const;
  void SelectPage();
  void WritePager();

  // Pages.
  void WriteHotNews();
  void WriteLogList();
  void ShowLogEntry();
  void AdminMain();
  void ServeImage();

  host::Request& request() const;
  host::Response& response() const;
  host::Server& server() const;
  host::Session& session() const;

  data::Pool& pool_;
  const SiteTexts& texts_;

  host::Response* response_ = nullptr;
  host::Request* request_ = nullptr;
  host::Application* application_ = nullptr;
  host::Server* server_ = nullptr;
  host::Session* session_ = nullptr;

  // The next recordset's query: its SQL text and the request values bound into it.
  data::Query sql_text_;
  std::string script_name_;
  std::string web_path_;
  std::int32_t hot_news_rcs_ = 0;
  std::int32_t image_size_ = 0;

  // Paging state of the current list.
  std::int32_t rows_written_ = 0;
  std::int32_t page_total_ = 0;
  std::int32_t rows_per_page_ = 0;
  std::string pager_query_;

  std::unique_ptr<data::Recordset> log_recordset_;
  std::unique_ptr<data::Command> log_command_;
};

}  // namespace tessaly

#endif  // TESSALY_COMPONENT_LOG_H_
