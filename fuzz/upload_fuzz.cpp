// Runs the upload body parser on arbitrary bodies. Besides the sanitizers it checks each result
// against a direct transcription of the parsing steps (character by character, positions from
// 1), which is slow on long bodies but plainly right: the same header end, delimiter line,
// content type, file name and file bytes, and an error exactly where the transcription fails.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "images/upload_body.h"

namespace {

using Text = std::optional<std::string>;

std::string RemoveAll(std::string text, const std::string& piece) {
  std::string out;
  for (std::size_t k = 0; k < text.size();) {
    if (text.compare(k, piece.size(), piece) == 0) {
      k += piece.size();
    } else {
      out += text[k++];
    }
  }
  return out;
}

struct Transcription {
  explicit Transcription(std::string_view b) : body(b) {
    const std::size_t n = body.size();
    i = n + 1;
    for (std::size_t k = 1; k <= n; ++k) {
      header += body[k - 1];
      if (header.size() >= 4 && header.compare(header.size() - 4, 4, "\r\n\r\n") == 0) {
        i = k;
        break;
      }
    }
    const std::size_t crlf = header.find("\r\n");
    if (crlf != std::string::npos) delimiter = header.substr(0, crlf + 1);
  }

  Text Line(const std::string& key) const {
    const std::size_t a = header.find(key);
    if (a == std::string::npos) return std::nullopt;
    const std::size_t b = header.find("\r\n", a);
    if (b == std::string::npos) return std::nullopt;
    return RemoveAll(header.substr(a, b - a), key);
  }

  Text ContentType() const { return Line("Content-Type: "); }

  Text FileName() const {
    Text rest = Line("filename=");
    if (!rest) return rest;
    rest = RemoveAll(*rest, "\"");
    const std::size_t slash = rest->rfind('\\');
    return slash == std::string::npos ? rest : rest->substr(slash + 1);
  }

  Text FileBytes() const {
    const std::int64_t n = static_cast<std::int64_t>(body.size());
    std::int64_t p = 1;
    for (std::int64_t q = n; q >= 1; --q) {
      if (body.compare(q - 1, delimiter.size(), delimiter) == 0) {
        p = q;
        break;
      }
    }
    const std::int64_t count = p - static_cast<std::int64_t>(i) - 3;
    if (count < 0) return std::nullopt;
    return std::string(body.substr(i, count));
  }

  std::string body;
  std::string header;
  std::size_t i = 0;
  std::string delimiter;
};

template <typename Step>
Text Run(Step step) {
  try {
    return std::string(step());
  } catch (const tessaly::InvalidArgument&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const tessaly::images::UploadBody parsed(body);
  const Transcription expected(body);
  if (parsed.header_end() != expected.i) std::abort();
  if (parsed.delimiter_line() != expected.delimiter) std::abort();
  if (Run([&] { return parsed.ContentType(); }) != expected.ContentType()) std::abort();
  if (Run([&] { return parsed.FileName(); }) != expected.FileName()) std::abort();
  if (Run([&] { return parsed.FileBytes(); }) != expected.FileBytes()) std::abort();
  return 0;
}
