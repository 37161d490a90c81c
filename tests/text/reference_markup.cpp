#include "reference_markup.h"

#include <string>

#include "base/ascii.h"
#include "text/replace.h"

namespace tessaly::text::reference {
namespace {

constexpr size_t kNone = std::string::npos;

std::string ReplaceFirst(std::string t, const std::string& from, const std::string& to) {
  const size_t hit = t.find(from);
  if (hit != kNone) t.replace(hit, from.size(), to);
  return t;
}

// Case-insensitive search from `start`, one candidate position at a time.
size_t FindNoCase(const std::string& t, const std::string& target, size_t start) {
  for (size_t i = start; i + target.size() <= t.size(); ++i) {
    if (ascii::EqualsNoCase(std::string_view(t).substr(i, target.size()), target)) return i;
  }
  return kNone;
}

std::string Replacement(const std::string& name, const std::string& p, const std::string& i,
                        std::string_view script_name) {
  if (name == "a") return "<a target=_blank href=" + p + ">" + i + "</a>";
  if (name == "b") return "<b>" + i + "</b>";
  if (name == "blockquote") return "<blockquote>" + i + "</blockquote>";
  if (name == "c") return "<font color=" + p + ">" + i + "</font><!-- \\<\\c\\>\\ -->";
  if (name == "center") return "<center>" + i + "</center>";
  if (name == "i") return "<em>" + i + "</em>";
  if (name == "l") return "<div style='float:left'>" + i + "</div><!-- \\<\\l\\>\\ -->";
  if (name == "li") return "<li>" + i + "</li>";
  if (name == "ol") return "<ol>" + i + "</ol>";
  if (name == "s") {
    return "<font style='font-size:12px'>" + i + "</font><!-- \\<\\s\\>\\ -->";
  }
  if (name == "r") return "<div style='float:right'>" + i + "</div><!-- \\<\\r\\>\\ -->";
  if (name == "u") return "<u>" + i + "</u>";
  if (name == "ul") return "<ul>" + i + "</ul>";
  if (name == "pre") return "<pre>" + i + "</pre>";
  if (name == "img") {
    if (p.find('/') != kNone) return "<img src=" + p + ">";
    return "<img src=" + std::string(script_name) + "?action=image&name=" + p + ">";
  }
  return "\\<\\" + name + "\\>\\" + i + "\\<\\" + name + "\\>\\";
}

}  // namespace

std::string MarkupToHtml(std::string_view text, std::string_view script_name) {
  std::string t(text);
  t = ReplaceAll(t, "\\[\\", "\\<\\");
  t = ReplaceAll(t, "\\]\\", "\\>\\");
  size_t p = t.find('[');
  size_t q = t.find(']');
  while (p != kNone && q != kNone) {
    bool neutralise = q == p + 1 || q < p;
    if (!neutralise) {
      std::string tag = ReplaceAll(t.substr(p + 1, q - p - 1), "&nbsp;", " ");
      std::string name;
      std::string param;
      const size_t space = tag.find(' ');
      if (space != kNone && space >= 1) {
        param = ReplaceAll(tag.substr(space + 1), "&quot;", "\"");
        name = ascii::ToLower(tag.substr(0, space));
      } else {
        name = ascii::ToLower(tag);
      }
      std::string segment;
      std::string inner;
      if (name == "img") {
        segment = t.substr(p, q - p + 1);
      } else {
        const size_t e = FindNoCase(t, "[/" + name + "]", q + 1);
        if (e == kNone) {
          neutralise = true;
        } else {
          inner = t.substr(q + 1, e - q - 1);
          segment = t.substr(p, e + name.size() + 3 - p);
        }
      }
      if (!neutralise) t = ReplaceAll(t, segment, Replacement(name, param, inner, script_name));
    }
    if (neutralise) {
      t = ReplaceFirst(t, "[", "\\<\\");
      t = ReplaceFirst(t, "]", "\\>\\");
    }
    p = t.find('[');
    q = t.find(']');
  }
  t = ReplaceAll(t, "\\<\\", "[");
  t = ReplaceAll(t, "\\>\\", "]");
  return t;
}

}  // namespace tessaly::text::reference
