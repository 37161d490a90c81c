// Runs the four text converters on arbitrary bytes. Besides the sanitizers it checks what
// holds for every input: decoding inverts encoding, the encoded text holds no raw space,
// double quote or angle bracket outside the breaks it wrote, and MarkupToHtml agrees with the
// direct transcription of its algorithm kept in the tests.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "reference_markup.h"
#include "text/escape.h"
#include "text/markup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string encoded = tessaly::text::EncodeText(input);
  if (tessaly::text::DecodeText(encoded) != input) std::abort();
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded.compare(i, 4, "<br>") == 0) {
      i += 3;
    } else if (std::string_view(" \"<>").find(encoded[i]) != std::string_view::npos) {
      std::abort();
    }
  }
  const std::string raw_html = tessaly::text::MarkupToHtml(input, "/log/board");
  if (raw_html != tessaly::text::reference::MarkupToHtml(input, "/log/board")) std::abort();
  const std::string stored = tessaly::text::MarkupToHtml(encoded, "/log/board");
  if (stored != tessaly::text::reference::MarkupToHtml(encoded, "/log/board")) std::abort();
  tessaly::text::HtmlToMarkup(input);
  tessaly::text::HtmlToMarkup(stored);
  return 0;
}
