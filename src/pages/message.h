// The framed message box through which every page reports an error, a refusal or a success:
// a 300-pixel table with a navy title bar and a grey body holding the text and its buttons.
// It writes three pieces (frame head with title and text, buttons, frame tail) and nothing
// else; callers end their page right after it.
#ifndef TESSALY_PAGES_MESSAGE_H_
#define TESSALY_PAGES_MESSAGE_H_

#include <string_view>

#include "host/host.h"

namespace tessaly::pages {

// The buttons under the text. "Back" without a target goes back in the browser's history;
// "close" closes the window.
enum class MessageButtons {
  kBack,
  kBackAndClose,
  kClose,
  kBackTo,          // back to the message's url
  kBackToAndClose,  // back to the url, and close
};

// `title` and `text` are HTML and are written as given: callers pass fixed texts and
// self-links only. `url` is written inside a single-quoted script string in a double-quoted
// attribute, so it must hold neither quote; only kBackTo and kBackToAndClose use it.
void ShowMessage(host::Response& response, std::string_view title, std::string_view text,
                 MessageButtons buttons, std::string_view url = {});

// The one refusal that the guarded and malformed requests of the admin area all share.
inline constexpr std::string_view kRefusalTitle = "非法调试";
inline constexpr std::string_view kRefusalText = "请尊重本站所提的服务，不要非法使用本站资源。";

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_MESSAGE_H_
