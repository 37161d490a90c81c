#include "component/log.h"

namespace tessaly {

// Pictures are not served yet: an image request writes nothing.
void LOG::ServeImage() {}

}  // namespace tessaly
