// Registered clipboard formats: names compare without regard to letter case (as Windows'
// atoms do), ids count up from 0xC000 and stay valid for the life of the process.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "com/include/winuser.h"

namespace {

constexpr UINT kFirstFormat = 0xC000;
constexpr UINT kLastFormat = 0xFFFF;
constexpr std::size_t kLongestName = 255;

std::mutex& formats_mutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<std::string>& formats() {  // index + kFirstFormat is the id
  static std::vector<std::string> names;
  return names;
}

bool same_name(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

extern "C" UINT RegisterClipboardFormatA(LPCSTR name) {
  if (name == nullptr || name[0] == '\0') return 0;
  std::size_t length = ::strnlen(name, kLongestName + 1);
  if (length > kLongestName) return 0;
  try {
    std::string text(name, length);
    std::lock_guard lock(formats_mutex());
    auto& names = formats();
    for (std::size_t i = 0; i < names.size(); ++i)
      if (same_name(names[i], text)) return kFirstFormat + static_cast<UINT>(i);
    if (names.size() > kLastFormat - kFirstFormat) return 0;
    names.push_back(text);
    return kFirstFormat + static_cast<UINT>(names.size() - 1);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

extern "C" int GetClipboardFormatNameA(UINT format, LPSTR name, int size) {
  if (name == nullptr || size <= 0) return 0;
  std::lock_guard lock(formats_mutex());
  const auto& names = formats();
  if (format < kFirstFormat || format - kFirstFormat >= names.size()) return 0;
  const std::string& text = names[format - kFirstFormat];
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(name, text.data(), n);
  name[n] = '\0';
  return static_cast<int>(n);
}
