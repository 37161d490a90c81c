#include "admin/admin.h"

namespace tessaly::admin {

// The administration area is not served yet: an admin request writes nothing.
void AdminMain(const pages::PageContext&) {}

}  // namespace tessaly::admin
