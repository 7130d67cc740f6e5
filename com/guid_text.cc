#include "com/guid_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "com/bstr.h"
#include "com/task_memory.h"

namespace hbt::com {

std::string guid_text(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

namespace {

int hex_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at `*pos`, advancing it.
bool read_hex(std::u16string_view text, std::size_t* pos, int digits, std::uint32_t* out) {
  std::uint32_t value = 0;
  for (int i = 0; i < digits; ++i) {
    int v = hex_value(text[*pos + i]);
    if (v < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(v);
  }
  *pos += digits;
  *out = value;
  return true;
}

}  // namespace

std::optional<GUID> parse_guid(std::u16string_view text) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return std::nullopt;
  for (std::size_t at : {9u, 14u, 19u, 24u})
    if (text[at] != u'-') return std::nullopt;
  GUID g{};
  std::size_t pos = 1;
  std::uint32_t v;
  if (!read_hex(text, &pos, 8, &v)) return std::nullopt;
  g.Data1 = v;
  ++pos;
  if (!read_hex(text, &pos, 4, &v)) return std::nullopt;
  g.Data2 = static_cast<WORD>(v);
  ++pos;
  if (!read_hex(text, &pos, 4, &v)) return std::nullopt;
  g.Data3 = static_cast<WORD>(v);
  ++pos;
  for (int i = 0; i < 8; ++i) {
    if (i == 2) ++pos;
    if (!read_hex(text, &pos, 2, &v)) return std::nullopt;
    g.Data4[i] = static_cast<BYTE>(v);
  }
  return g;
}

std::optional<GUID> parse_guid(std::string_view text) {
  std::u16string wide(text.begin(), text.end());
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
  return parse_guid(std::u16string_view(wide));
}

}  // namespace hbt::com

using hbt::com::guid_text;
using hbt::com::parse_guid;

extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
  if (text == nullptr || size < CHARS_IN_GUID) return 0;
  std::string narrow = guid_text(guid);
  for (std::size_t i = 0; i < narrow.size(); ++i) text[i] = static_cast<OLECHAR>(narrow[i]);
  text[narrow.size()] = u'\0';
  return CHARS_IN_GUID;
}

extern "C" HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  if (text == nullptr) return E_INVALIDARG;
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc(CHARS_IN_GUID * sizeof(OLECHAR)));
  *text = out;
  if (out == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(clsid, out, CHARS_IN_GUID);
  return S_OK;
}

extern "C" HRESULT StringFromIID(REFIID iid, LPOLESTR* text) { return StringFromCLSID(iid, text); }

extern "C" HRESULT IIDFromString(LPCOLESTR text, LPIID iid) {
  if (iid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *iid = GUID_NULL;
    return S_OK;
  }
  std::optional<GUID> g = parse_guid(std::u16string_view(text));
  if (!g) return E_INVALIDARG;
  *iid = *g;
  return S_OK;
}

extern "C" HRESULT CoCreateGuid(GUID* guid) {
  if (guid == nullptr) return E_INVALIDARG;
  // Version 4 (random) as Windows makes them; the kernel's generator, with the library's
  // own as a fall-back when /dev/urandom cannot be read.
  BYTE bytes[16];
  bool filled = false;
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    filled = ::read(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
    ::close(fd);
  }
  if (!filled) {
    std::random_device device;
    for (BYTE& b : bytes) b = static_cast<BYTE>(device());
  }
  std::memcpy(guid, bytes, sizeof bytes);
  guid->Data3 = static_cast<WORD>((guid->Data3 & 0x0FFF) | 0x4000);
  guid->Data4[0] = static_cast<BYTE>((guid->Data4[0] & 0x3F) | 0x80);
  return S_OK;
}
