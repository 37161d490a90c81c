#include "images/images.h"

namespace tessaly::images {

// Pictures are not served yet: an image request writes nothing.
void ServeImage(const pages::PageContext&) {}

// The picture administration is not served yet.
void ImageAdmin(const pages::PageContext&) {}

}  // namespace tessaly::images
