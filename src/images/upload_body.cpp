#include "images/upload_body.h"

#include <vector>

#include "base/errors.h"
#include "text/replace.h"

namespace tessaly::images {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kContentType = "Content-Type: ";
constexpr std::string_view kFileName = "filename=";

}  // namespace

std::size_t FindLast(std::string_view haystack, std::string_view needle) {
  const std::size_t m = needle.size();
  const std::size_t n = haystack.size();
  if (m == 0) return n;
  if (m > n) return std::string_view::npos;
  // The needle read from its end: reading the haystack from its end too turns the search for
  // the last occurrence into an ordinary search for the first.
  auto back = [needle, m](std::size_t k) { return needle[m - 1 - k]; };
  std::vector<std::size_t> border(m, 0);
  for (std::size_t k = 1, length = 0; k < m; ++k) {
    while (length > 0 && back(k) != back(length)) length = border[length - 1];
    if (back(k) == back(length)) ++length;
    border[k] = length;
  }
  std::size_t matched = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const char c = haystack[n - 1 - k];
    while (matched > 0 && c != back(matched)) matched = border[matched - 1];
    if (c == back(matched)) ++matched;
    if (matched == m) return n - 1 - k;
  }
  return std::string_view::npos;
}

UploadBody::UploadBody(std::string_view body) : body_(body) {
  const std::size_t blank = body.find(kBlankLine);
  if (blank == std::string_view::npos) {
    header_ = body;
    header_end_ = body.size() + 1;
  } else {
    header_end_ = blank + kBlankLine.size();
    header_ = body.substr(0, header_end_);
  }
  const std::size_t first_line_end = header_.find(kLineEnd);
  if (first_line_end != std::string_view::npos)
    delimiter_line_ = header_.substr(0, first_line_end + 1);
}

std::string_view UploadBody::LineFrom(std::string_view key) const {
  const std::size_t start = header_.find(key);
  if (start == std::string_view::npos) {
    throw InvalidArgument("upload: no \"" + std::string(key) + "\" in the first part's headers");
  }
  const std::size_t end = header_.find(kLineEnd, start);
  if (end == std::string_view::npos) {
    throw InvalidArgument("upload: the line of \"" + std::string(key) + "\" has no end");
  }
  return header_.substr(start, end - start);
}

std::string UploadBody::ContentType() const {
  return text::ReplaceAll(LineFrom(kContentType), kContentType, "");
}

std::string UploadBody::FileName() const {
  std::string rest =
      text::ReplaceAll(text::ReplaceAll(LineFrom(kFileName), kFileName, ""), "\"", "");
  const std::size_t folder_end = rest.rfind('\\');
  return folder_end == std::string::npos ? rest : rest.substr(folder_end + 1);
}

std::string_view UploadBody::FileBytes() const {
  if (header_end_ > body_.size()) throw InvalidArgument("upload: the body has no blank line");
  // The delimiter line is not empty here: the header block ends in a CR LF. The file ends with
  // the CR LF before the delimiter line that opens the last part, which must come after the
  // header block.
  const std::size_t delimiter = FindLast(body_, delimiter_line_);
  if (delimiter == std::string_view::npos || delimiter < header_end_ + kLineEnd.size()) {
    throw InvalidArgument("upload: no part follows the file");
  }
  return body_.substr(header_end_, delimiter - header_end_ - kLineEnd.size());
}

}  // namespace tessaly::images
