// The element filters of DA 3.0 browsing: wildcard patterns of the Visual Basic Like operator,
// compared case-sensitively. "?" is any one character, "*" any run of characters (none
// included), "#" one digit 0 to 9; "[list]" one character of the list and "[!list]" one not
// in it, where a list holds characters and ascending ranges such as "a-z" (a "-" first or last
// is itself). A special character stands for itself inside brackets: "[*]", "[[]", "[?]".
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace hbt::opc {

class LikePattern {
 public:
  // Empty when the text is no pattern: a "[" without its "]", a descending range, or a
  // pattern longer than kMaxLength characters.
  static std::optional<LikePattern> parse(std::u16string_view text);
  bool matches(std::u16string_view name) const;

  static constexpr std::size_t kMaxLength = 1024;

 private:
  struct Token {
    enum Kind { kChar, kAny, kRun, kDigit, kSet } kind;
    char16_t c = 0;
    bool negated = false;
    std::vector<std::pair<char16_t, char16_t>> ranges;  // kSet
    bool accepts(char16_t x) const;
  };
  std::vector<Token> tokens_;
};

}  // namespace hbt::opc
