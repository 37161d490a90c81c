// Pictures: serving a stored picture to anybody, and the picture administration.
#ifndef TESSALY_IMAGES_IMAGES_H_
#define TESSALY_IMAGES_IMAGES_H_

#include "pages/page_context.h"

namespace tessaly::images {

// The stored picture that the request item "name" names, with its stored content type, an
// ETag and "nosniff"; 304 without the bytes when If-None-Match lists the tag. An empty answer
// for a name that is not stored; a message for a missing or empty name.
void ServeImage(const pages::PageContext& page);

// The picture administration ("do=image"): the login form for a visitor who has not logged
// on, else the page that the request item "for" names ("delimage", "upload", "doupload",
// "list"; exact, case-sensitive), the list for any other value or none.
void ImageAdmin(const pages::PageContext& page);

}  // namespace tessaly::images

#endif  // TESSALY_IMAGES_IMAGES_H_
