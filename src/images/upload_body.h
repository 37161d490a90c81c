// Taking apart the multipart body that the upload form posts.
//
// Not a general multipart reader: it relies on the shape of what that form sends, the file
// field as the first part and at least one part (the submit button) after it, and it takes the
// delimiter from the body's first line, never from the request's headers. Every search is
// exact and case-sensitive, on bytes; texts come back as the body's bytes, unchanged (one
// character per byte, so that positions in a text are positions in the body).
//
// What it finds, with offsets counted from 0:
//  - the header block: the body up to and including its first CR LF CR LF (the whole body
//    when it holds none);
//  - the delimiter line: the body's first line with its CR and without its LF;
//  - the content type: on the header block's first line that holds "Content-Type: ", the text
//    from there to the line's CR LF, with every "Content-Type: " in it removed (so the value
//    exactly as sent: not trimmed, not folded, parameters kept);
//  - the file name: likewise from "filename=", with every "filename=" and every double quote
//    removed, and of the rest only what follows its last backslash (the client's folders;
//    a slash stays in the name);
//  - the file bytes: from the end of the header block up to, not including, the CR LF before
//    the last occurrence of the delimiter line in the body.
//
// Each step costs time linear in the body, whatever the body holds. A body that a step cannot
// take apart makes that step throw tessaly::InvalidArgument; the steps are separate so that a
// caller can check each result before asking for the next.
#ifndef TESSALY_IMAGES_UPLOAD_BODY_H_
#define TESSALY_IMAGES_UPLOAD_BODY_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaly::images {

class UploadBody {
 public:
  // Finds the header block and the delimiter line. `body` must outlive the object.
  explicit UploadBody(std::string_view body);

  // Offset of the first byte after the header block; the body's size + 1 when the body holds
  // no CR LF CR LF (no file can follow a header block that never ends).
  std::size_t header_end() const { return header_end_; }

  // Empty when the header block holds no CR LF.
  std::string_view delimiter_line() const { return delimiter_line_; }

  // Throw InvalidArgument when the header block lacks "Content-Type: " or "filename=", or
  // when no CR LF follows it there.
  std::string ContentType() const;
  std::string FileName() const;

  // A view into the body. Throws InvalidArgument when the body has no blank line, or when no
  // delimiter line follows the header block with room for the CR LF before it (no part after
  // the file). An empty file gives an empty view.
  std::string_view FileBytes() const;

 private:
  // The header block's line from the first `key` to its CR LF. Throws InvalidArgument.
  std::string_view LineFrom(std::string_view key) const;

  std::string_view body_;
  std::string_view header_;  // the header block
  std::size_t header_end_;
  std::string_view delimiter_line_;
};

// Start of the last occurrence of `needle` in `haystack`, or npos; an empty needle is found at
// haystack.size(). Linear in both lengths (Knuth-Morris-Pratt run backwards): a reverse search
// that compares from each candidate position costs their product on a long first line.
std::size_t FindLast(std::string_view haystack, std::string_view needle);

}  // namespace tessaly::images

#endif  // TESSALY_IMAGES_UPLOAD_BODY_H_
