// The pages of the picture administration behind ImageAdmin's "for" dispatch, and the link to
// a served picture that several of them write. Internal to this folder. ImageAdmin's login
// guard has passed before any of these pages runs; they do not check it again.
#ifndef TESSALY_IMAGES_IMAGE_PAGES_H_
#define TESSALY_IMAGES_IMAGE_PAGES_H_

#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace tessaly::images {

// The stored pictures, 15 a page, with check boxes that post to the delete page; the
// "没有可供管理的图片" message when there are none.
void WriteImageList(const pages::PageContext& page);

// Deletes the pictures whose ids a POST names ("id": a comma-separated list of whole numbers)
// and confirms it. A request that a page of another origin made is refused (guards.h); any
// other request (not a POST by the request's own method, no ids, ids that
// are not whole numbers) deletes nothing and gets the list again.
void DoDeleteImages(const pages::PageContext& page);

// The form that posts one file, "image", to "for=doupload" as multipart form data.
void WriteUploadForm(const pages::PageContext& page);

// Refuses a request that a page of another origin made (guards.h), then takes the posted
// picture apart (upload_body.h), checks size, type, name and duplicates in
// that order, stores it and ends the response. A body that cannot be taken apart throws
// InvalidArgument and stores nothing.
void DoUpload(const pages::PageContext& page);

// The script name, "?action=image&name=" and `name` made safe inside a quoted attribute and
// as one query value; ordinary names (letters, digits, '.', '-', '_', '/', non-ASCII text)
// pass unchanged.
std::string PictureLink(std::string_view script_name, std::string_view name);

}  // namespace tessaly::images

#endif  // TESSALY_IMAGES_IMAGE_PAGES_H_
