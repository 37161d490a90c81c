// Pictures: serving a stored picture to anybody, and the picture administration.
#ifndef TESSALY_IMAGES_IMAGES_H_
#define TESSALY_IMAGES_IMAGES_H_

#include "pages/page_context.h"

namespace tessaly::images {

// The stored picture that the request item "name" names, with its stored content type.
void ServeImage(const pages::PageContext& page);

// The picture administration ("do=image"), dispatched further by the request item "for";
// the login form for a visitor who has not logged on.
void ImageAdmin(const pages::PageContext& page);

}  // namespace tessaly::images

#endif  // TESSALY_IMAGES_IMAGES_H_
