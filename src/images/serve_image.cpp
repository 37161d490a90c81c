#include "images/images.h"

namespace tessaly::images {

// Pictures are not served yet: an image request writes nothing.
void ServeImage(const pages::PageContext&) {}

}  // namespace tessaly::images
