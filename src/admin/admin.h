// The administration area: the "admin" action, dispatched further by the request item "do".
#ifndef TESSALY_ADMIN_ADMIN_H_
#define TESSALY_ADMIN_ADMIN_H_

#include "pages/page_context.h"

namespace tessaly::admin {

// Runs the administration page that "do" names (exact, case-sensitive); the login form for
// any other value.
void AdminMain(const pages::PageContext& page);

}  // namespace tessaly::admin

#endif  // TESSALY_ADMIN_ADMIN_H_
