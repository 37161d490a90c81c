// The guards of the administration pages, and the login form that the first one writes.
// A guard that says no has already written its answer; its caller returns at once without
// writing or changing anything (the add page alone also abandons the session).
#ifndef TESSALY_PAGES_GUARDS_H_
#define TESSALY_PAGES_GUARDS_H_

#include "pages/page_context.h"

namespace tessaly::pages {

// The login page: one form posting "username" and "password" to "?action=admin&do=logon".
void WriteLoginForm(const PageContext& page);

// True when the session holds a non-empty "username"; otherwise writes the login form.
bool RequireLogin(const PageContext& page);

// True unless the browser tells that a page of another origin made the request
// (host::Request::FromOtherOrigin); otherwise writes the refusal message with a close button.
// Every request that changes something passes it, so that a page of another port or a sibling
// host, which the browser counts as the same site, cannot act through the visitor's session.
bool RequireOwnOrigin(const PageContext& page);

// True when the request's own method is POST (never an item of the same name from the query,
// the form or a cookie); otherwise writes the refusal message with a close button.
bool RequirePost(const PageContext& page);

}  // namespace tessaly::pages

#endif  // TESSALY_PAGES_GUARDS_H_
