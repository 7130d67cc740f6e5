// Small helpers every OPC object uses: interface comparison, task-allocator copies of wide
// texts, and conversions between the client's wide texts and the host library's narrow ones.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "com/bstr.h"
#include "com/task_memory.h"
#include "opc/com_base.h"

namespace hbt::opc {

inline bool is(REFIID a, const IID& b) { return IsEqualGUID(a, b); }

// Length of a NUL-terminated wide text, stopping at `limit` units.
inline std::size_t wide_length(const OLECHAR* text, std::size_t limit = static_cast<std::size_t>(-1)) {
  std::size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

inline std::u16string_view wide_view(const OLECHAR* text) {
  return text ? std::u16string_view(text, wide_length(text)) : std::u16string_view();
}

// A copy for the client, from the task allocator; null when memory runs out.
inline LPWSTR task_wide_copy(std::u16string_view text) {
  auto* out = static_cast<LPWSTR>(com::CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (!out) return nullptr;
  text.copy(out, text.size());
  out[text.size()] = 0;
  return out;
}

// An array for the client from the task allocator, zeroed; null when memory runs out.
template <class T>
T* task_array(std::size_t count) {
  auto* out = static_cast<T*>(com::CoTaskMemAlloc(count * sizeof(T)));
  if (out) std::memset(static_cast<void*>(out), 0, count * sizeof(T));
  return out;
}

inline LPWSTR task_wide_copy(std::string_view narrow) { return task_wide_copy(com::utf16_from_utf8(narrow)); }

inline std::string narrow(std::u16string_view wide) { return com::utf8_from_utf16(wide); }
inline std::u16string wide(std::string_view text) { return com::utf16_from_utf8(text); }

}  // namespace hbt::opc
