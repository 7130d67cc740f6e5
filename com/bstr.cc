#include "com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace hbt::com {

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);

// Allocates the prefix, `bytes` of text and a NUL unit (two zero bytes, so that an odd byte
// count still ends in a whole NUL unit).
BSTR allocate(std::size_t bytes) {
  if (bytes > std::numeric_limits<std::uint32_t>::max() - kPrefix - 2) return nullptr;
  auto* block = static_cast<char*>(std::malloc(kPrefix + bytes + 2 + (bytes & 1)));
  if (block == nullptr) return nullptr;
  std::uint32_t count = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &count, kPrefix);
  std::memset(block + kPrefix + bytes, 0, 2 + (bytes & 1));
  return reinterpret_cast<BSTR>(block + kPrefix);
}

std::size_t units_until_nul(const OLECHAR* text) {
  std::size_t n = 0;
  while (text[n] != u'\0') ++n;
  return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(units_until_nul(text)));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  BSTR s = allocate(std::size_t{length} * sizeof(OLECHAR));
  if (s == nullptr) return nullptr;
  if (text != nullptr)
    std::memcpy(s, text, std::size_t{length} * sizeof(OLECHAR));
  else
    std::memset(s, 0, std::size_t{length} * sizeof(OLECHAR));
  return s;
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length) {
  BSTR s = allocate(length);
  if (s == nullptr) return nullptr;
  if (bytes != nullptr)
    std::memcpy(s, bytes, length);
  else
    std::memset(s, 0, length);
  return s;
}

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
  if (target == nullptr) return FALSE;
  if (text == nullptr) {
    SysFreeString(*target);
    *target = nullptr;
    return TRUE;
  }
  return SysReAllocStringLen(target, text, static_cast<UINT>(units_until_nul(text)));
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  if (target == nullptr) return FALSE;
  // Allocate first: `text` may point into the old string.
  BSTR fresh = SysAllocStringLen(text, length);
  if (fresh == nullptr) return FALSE;
  SysFreeString(*target);
  *target = fresh;
  return TRUE;
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<char*>(text) - kPrefix);
}

UINT SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  std::uint32_t count;
  std::memcpy(&count, reinterpret_cast<const char*>(text) - kPrefix, kPrefix);
  return count;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

std::u16string_view bstr_view(BSTR text) { return {text ? text : u"", SysStringLen(text)}; }

BSTR bstr_from_utf8(std::string_view text) {
  std::u16string wide = utf16_from_utf8(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string utf8_from_utf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string utf16_from_utf8(std::string_view text) {
  static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    std::uint32_t lead = byte(i);
    int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
    // Malformed input becomes U+FFFD, one byte at a time.
    std::uint32_t c = 0xFFFD;
    std::size_t used = 1;
    if (extra == 0) {
      c = lead;
    } else if (extra > 0 && i + static_cast<std::size_t>(extra) < text.size()) {
      std::uint32_t value = lead & (0x3Fu >> extra);
      bool ok = true;
      for (int k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        value = (value << 6) | (byte(i + k) & 0x3F);
      }
      if (ok && value >= kMinimum[extra] && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)) {
        c = value;
        used = 1 + static_cast<std::size_t>(extra);
      }
    }
    i += used;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace hbt::com
