#include "text/search_terms.h"

#include "base/ascii.h"
#include "base/utf8.h"

namespace tessaly::text {
namespace {

constexpr std::string_view kIdeographicSpace = "\u3000";

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The length of the character at the start of `text` (not empty).
std::size_t CharacterLength(std::string_view text) {
  const std::size_t length = utf8::SequenceLength(text);
  return length == 0 ? 1 : length;
}

bool IsControl(std::string_view character) {
  const auto lead = static_cast<unsigned char>(character[0]);
  if (character.size() == 1) return lead < 0x20 || lead == 0x7F;
  return lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
}

// Whether no word can hold `character`: blanks split words, and controls refuse the query.
bool IsSeparator(std::string_view character) {
  return (character.size() == 1 && IsBlank(character[0])) || IsControl(character) ||
         character == kIdeographicSpace;
}

// The characters of `text`, in order.
std::vector<std::string_view> Characters(std::string_view text) {
  std::vector<std::string_view> characters;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = CharacterLength(text.substr(i));
    characters.push_back(text.substr(i, n));
    i += n;
  }
  return characters;
}

}  // namespace

bool HasControlCharacter(std::string_view query) {
  for (std::size_t i = 0; i < query.size();) {
    const std::string_view character = query.substr(i, CharacterLength(query.substr(i)));
    if (IsControl(character) && !(character.size() == 1 && IsBlank(character[0]))) return true;
    i += character.size();
  }
  return false;
}

std::vector<std::string> SearchWords(std::string_view query) {
  std::vector<std::string> words;
  std::string word;
  const auto end_word = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  };
  std::size_t characters = 0;
  for (std::size_t i = 0; i < query.size() && characters < kMaxQueryCharacters; ++characters) {
    const std::string_view character = query.substr(i, CharacterLength(query.substr(i)));
    i += character.size();
    if (IsSeparator(character)) {
      end_word();
      if (words.size() == kMaxQueryWords) return words;
    } else if (!(character == "'" && word.ends_with('\''))) {
      word += character;  // a run of apostrophes reads as one, as the stored form's doubled one
    }
  }
  end_word();
  if (words.size() > kMaxQueryWords) words.resize(kMaxQueryWords);
  return words;
}

void ForEachTextTerm(std::string_view text,
                     const std::function<void(std::string_view term, std::size_t offset,
                                              bool same_position)>& term) {
  const std::string folded = ascii::ToLower(text);
  std::size_t i = 0;
  std::size_t length = folded.empty() ? 0 : CharacterLength(folded);
  while (i < folded.size()) {
    const std::string_view character(folded.data() + i, length);
    const std::size_t next = i + length;
    const std::size_t next_length =
        next < folded.size() ? CharacterLength(std::string_view(folded).substr(next)) : 0;
    if (!IsSeparator(character)) {
      term(character, i, false);
      if (next_length > 0 && !IsSeparator(std::string_view(folded.data() + next, next_length))) {
        term(std::string_view(folded.data() + i, length + next_length), i, true);
      }
    }
    i = next;
    length = next_length;
  }
}

std::vector<std::string> WordTerms(std::string_view word) {
  const std::string folded = ascii::ToLower(word);
  const std::vector<std::string_view> characters = Characters(folded);
  std::vector<std::string> terms;
  if (characters.size() == 1) terms.emplace_back(characters[0]);
  for (std::size_t i = 0; i + 1 < characters.size(); ++i) {
    terms.emplace_back(characters[i].data(), characters[i].size() + characters[i + 1].size());
  }
  return terms;
}

}  // namespace tessaly::text
