// Upload bodies built the way browsers send the upload form.
#ifndef TESSALY_TESTS_IMAGES_PICTURES_H_
#define TESSALY_TESTS_IMAGES_PICTURES_H_

#include <string>

namespace tessaly::support {

// The body that a browser posts from the upload form: the file part, then (unless left out)
// the submit button's part, then the closing delimiter.
struct FormUpload {
  std::string file_name = "logo.gif";  // as the browser writes it after filename=
  std::string type = "image/gif";
  std::string bytes{"GIF89a\0\x01\xff", 9};
  bool submit_button = true;
  std::string boundary = "----WebKitFormBoundaryq7ZfA2nM0c4kLsXe";

  std::string Body() const {
    const std::string delimiter = "--" + boundary + "\r\n";
    std::string body = delimiter + "Content-Disposition: form-data; name=\"image\"; filename=\"" +
                       file_name + "\"\r\nContent-Type: " + type + "\r\n\r\n" + bytes + "\r\n";
    if (submit_button) {
      body += delimiter + "Content-Disposition: form-data; name=\"B1\"\r\n\r\n 确  定 \r\n";
    }
    return body + "--" + boundary + "--\r\n";
  }
  std::string ContentType() const { return "multipart/form-data; boundary=" + boundary; }
};

}  // namespace tessaly::support

#endif  // TESSALY_TESTS_IMAGES_PICTURES_H_
