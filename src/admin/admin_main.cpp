#include "component/log.h"

namespace tessaly {

// The administration area is not served yet: an admin request writes nothing.
void LOG::AdminMain() {}

}  // namespace tessaly
