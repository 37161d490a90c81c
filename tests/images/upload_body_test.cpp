// The upload body parser on bodies as browsers send them and on bodies that only look alike.
#include "images/upload_body.h"

#include <gtest/gtest.h>

#include <random>

#include "base/errors.h"
#include "images/pictures.h"

namespace tessaly::images {
namespace {

using testing::FormUpload;

TEST(UploadBodyTest, TakesApartTheFormAsBrowsersSendIt) {
  const std::string small =
      "--b\r\nfilename=\"x\"\r\nContent-Type: t\r\n\r\nABC\r\n--b\r\nB1\r\n\r\nv\r\n--b--\r\n";
  const UploadBody parsed(small);
  EXPECT_EQ(parsed.ContentType(), "t");
  EXPECT_EQ(parsed.FileName(), "x");
  EXPECT_EQ(parsed.FileBytes(), "ABC");

  FormUpload upload;
  std::string body = upload.Body();
  UploadBody browser(body);
  EXPECT_EQ(browser.ContentType(), "image/gif");
  EXPECT_EQ(browser.FileName(), "logo.gif");
  EXPECT_EQ(browser.FileBytes(), upload.bytes);

  // Inside the file, blank lines, delimiter lines and a closing delimiter change nothing: the
  // headers end at the first blank line and the file at the last delimiter line.
  upload.bytes = "\r\n\r\nContent-Type: text/html\r\n--" + upload.boundary + "\r\n--" +
                 upload.boundary + "--\r\n\r\n";
  body = upload.Body();
  EXPECT_EQ(UploadBody(body).FileBytes(), upload.bytes);
  EXPECT_EQ(UploadBody(body).ContentType(), "image/gif");

  upload.bytes.clear();
  body = upload.Body();
  EXPECT_EQ(UploadBody(body).FileBytes(), "");
}

TEST(UploadBodyTest, FileNameAndContentTypeAsSent) {
  auto name = [](const std::string& sent) {
    FormUpload upload;
    upload.file_name = sent;
    return UploadBody(upload.Body()).FileName();
  };
  EXPECT_EQ(name("C:\\a b\\x.gif"), "x.gif");
  EXPECT_EQ(name("x.gif"), "x.gif");
  EXPECT_EQ(name("dir/x.gif"), "dir/x.gif");
  EXPECT_EQ(name("C:\\dir\\"), "");
  EXPECT_EQ(name("图片.gif"), "图片.gif");

  auto type = [](const std::string& sent) {
    FormUpload upload;
    upload.type = sent;
    return UploadBody(upload.Body()).ContentType();
  };
  EXPECT_EQ(type("image/gif; name=x"), "image/gif; name=x");
  EXPECT_EQ(type("IMAGE/GIF "), "IMAGE/GIF ");
  EXPECT_EQ(type("Content-Type: image/gif"), "image/gif");  // every occurrence is removed

  // Only the first part's headers count: a type in the button's part is never seen.
  const std::string no_type =
      "--b\r\nContent-Disposition: form-data; name=\"image\"; filename=\"a.gif\"\r\n\r\nA\r\n"
      "--b\r\nContent-Type: image/gif\r\n\r\nv\r\n--b--\r\n";
  EXPECT_THROW(UploadBody(no_type).ContentType(), InvalidArgument);
  EXPECT_EQ(UploadBody(no_type).FileName(), "a.gif");
}

TEST(UploadBodyTest, BodiesThatCannotBeTakenApart) {
  FormUpload upload;
  upload.submit_button = false;
  std::string body = upload.Body();
  EXPECT_EQ(UploadBody(body).FileName(), "logo.gif");
  EXPECT_THROW(UploadBody(body).FileBytes(), InvalidArgument);  // no part after the file

  // Without the button's part, a delimiter line inside the file ends the file there.
  upload.bytes = "AB\r\n--" + upload.boundary + "\r\nCD";
  body = upload.Body();
  EXPECT_EQ(UploadBody(body).FileBytes(), "AB");

  const std::string empty;
  EXPECT_THROW(UploadBody(empty).ContentType(), InvalidArgument);
  EXPECT_THROW(UploadBody(empty).FileName(), InvalidArgument);
  EXPECT_THROW(UploadBody(empty).FileBytes(), InvalidArgument);

  // Without a blank line the header block is the whole body: its lines are still read, but no
  // file can be taken, and a line without its CR LF cannot be read.
  const std::string no_blank = "--b\r\nfilename=x\r\nContent-Type: image/gif\r\n--b\r\n";
  const UploadBody unended(no_blank);
  EXPECT_EQ(unended.ContentType(), "image/gif");
  EXPECT_EQ(unended.FileName(), "x");
  EXPECT_THROW(unended.FileBytes(), InvalidArgument);
  EXPECT_THROW(UploadBody("--b\r\nContent-Type: image/gif").ContentType(), InvalidArgument);

  // The delimiter line right after the blank line leaves no room for the CR LF before it.
  const std::string tight = "--b\r\nfilename=x\r\nContent-Type: t\r\n\r\n--b\r\n\r\n";
  EXPECT_THROW(UploadBody(tight).FileBytes(), InvalidArgument);
}

TEST(UploadBodyTest, FindLastAgreesWithReverseFind) {
  EXPECT_EQ(FindLast("abababa", "aba"), 4u);
  EXPECT_EQ(FindLast("aaaa", "aa"), 2u);
  EXPECT_EQ(FindLast("abc", ""), 3u);
  EXPECT_EQ(FindLast("ab", "abc"), std::string_view::npos);
  // Small alphabets give the periodic patterns on which a wrong border table goes astray.
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string haystack(random() % 16, 'a'), needle(1 + random() % 5, 'a');
    for (char& c : haystack) c = static_cast<char>('a' + random() % 2);
    for (char& c : needle) c = static_cast<char>('a' + random() % 2);
    ASSERT_EQ(FindLast(haystack, needle), std::string_view(haystack).rfind(needle))
        << haystack << " / " << needle;
  }
}

}  // namespace
}  // namespace tessaly::images
