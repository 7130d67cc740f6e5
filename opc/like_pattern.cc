#include "opc/like_pattern.h"

namespace hbt::opc {

bool LikePattern::Token::accepts(char16_t x) const {
  switch (kind) {
    case kChar: return x == c;
    case kAny: return true;
    case kDigit: return x >= u'0' && x <= u'9';
    case kSet: {
      bool in = false;
      for (auto [low, high] : ranges) in = in || (x >= low && x <= high);
      return in != negated;
    }
    case kRun: return true;
  }
  return false;
}

std::optional<LikePattern> LikePattern::parse(std::u16string_view text) {
  if (text.size() > kMaxLength) return std::nullopt;
  LikePattern p;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    Token t{Token::kChar};
    switch (c) {
      case u'?': t.kind = Token::kAny; break;
      case u'#': t.kind = Token::kDigit; break;
      case u'*':
        // Runs next to each other are one run.
        if (!p.tokens_.empty() && p.tokens_.back().kind == Token::kRun) continue;
        t.kind = Token::kRun;
        break;
      case u'[': {
        std::size_t close = text.find(u']', i + 1);
        if (close == std::u16string_view::npos) return std::nullopt;
        std::u16string_view list = text.substr(i + 1, close - i - 1);
        i = close;
        // "[]" is no character at all.
        if (list.empty()) continue;
        t.kind = Token::kSet;
        if (list.front() == u'!') {
          t.negated = true;
          list.remove_prefix(1);
        }
        for (std::size_t k = 0; k < list.size(); ++k) {
          if (k + 2 < list.size() && list[k + 1] == u'-') {
            if (list[k + 2] < list[k]) return std::nullopt;
            t.ranges.emplace_back(list[k], list[k + 2]);
            k += 2;
          } else {
            t.ranges.emplace_back(list[k], list[k]);
          }
        }
        break;
      }
      default: t.c = c; break;
    }
    p.tokens_.push_back(std::move(t));
  }
  return p;
}

bool LikePattern::matches(std::u16string_view name) const {
  // reach[j]: the tokens so far can consume the first j characters of the name.
  std::vector<bool> reach(name.size() + 1, false);
  reach[0] = true;
  for (const Token& t : tokens_) {
    std::vector<bool> next(name.size() + 1, false);
    if (t.kind == Token::kRun) {
      bool any = false;
      for (std::size_t j = 0; j <= name.size(); ++j) next[j] = any = any || reach[j];
    } else {
      for (std::size_t j = 0; j < name.size(); ++j) next[j + 1] = reach[j] && t.accepts(name[j]);
    }
    reach.swap(next);
  }
  return reach[name.size()];
}

}  // namespace hbt::opc
