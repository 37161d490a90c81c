// Conversion between the bracket tag markup in which entries are written and the HTML in
// which they are stored.
//
// Markup: "[name]inner[/name]" pairs and the single tag "[img param]"; a tag may carry one
// parameter after the first space ("[c red]"). Names are matched ignoring ASCII case. A
// literal bracket is typed as "\[\" or "\]\"; brackets that form no recognised tag also come
// out literally. The converters are pure, total on arbitrary bytes and never throw.
#ifndef TESSALY_TEXT_MARKUP_H_
#define TESSALY_TEXT_MARKUP_H_

#include <string>
#include <string_view>

namespace tessaly::text {

// Converts an encoded content (the output of EncodeText) into the HTML that is stored.
// Tags are taken from the left by the first "[" and the first "]"; a pair closes at the first
// closing tag after its opening tag; every identical copy of a converted segment is converted
// with it; an unmatched bracket pair is kept as literal text. `script_name` is the path of the
// page that serves pictures, used for "[img name]" without a "/" in the name. The closing tags
// of c, s, l and r are followed by a comment naming the tag so that HtmlToMarkup can tell them
// apart.
//
// Cost: about the size of the text times the nesting depth of its tags, plus, for every
// segment that recurs, the length of text up to its last copy. Only contents that hold long
// stretches of unmatched brackets cost more (up to quadratic, as the definition implies).
std::string MarkupToHtml(std::string_view text, std::string_view script_name);

// Converts stored HTML back into markup for the edit form: literal brackets become escapes,
// the elements written by MarkupToHtml become tags again, "<br>" becomes CR LF, and the result
// is finally passed through DecodeText. Storing the result again reproduces the stored HTML
// for contents whose tags were properly nested and closed and that hold no img tag.
std::string HtmlToMarkup(std::string_view text);

// Options of the `tessaly markup` command.
struct MarkupCommandOptions {
  std::string script_name = "/log/board";
  bool title = false;    // treat the input as a title: escaping only, no markup
  bool reverse = false;  // convert what is stored back into what the edit form shows
};

// What the add form would store for `input` as a content (MarkupToHtml of EncodeText) or, with
// `title`, as a title (EncodeText); with `reverse`, what the edit form shows for a stored
// content (HtmlToMarkup) or title (DecodeText). Adds or removes no trailing newline.
std::string RunMarkupCommand(std::string_view input, const MarkupCommandOptions& options);

}  // namespace tessaly::text

#endif  // TESSALY_TEXT_MARKUP_H_
