#include "opc/da1_stream.h"

#include <cstring>
#include <limits>

#include "com/bstr.h"

namespace hbt::opc {
namespace {

constexpr std::size_t kGroupHeaderSize = 20;   // dwSize, dwItemCount, hClientGroup, dwTransactionID, hrStatus
constexpr std::size_t kItemHeaderTimeSize = 20;  // hClient, dwValueOffset, wQuality, wReserved, ftTimeStampItem
constexpr std::size_t kItemHeaderSize = 12;      // hClient, dwValueOffset, wQuality, wReserved
constexpr std::size_t kWriteGroupHeaderSize = 16;
constexpr std::size_t kWriteItemHeaderSize = 8;

static_assert(sizeof(OPCGROUPHEADER) == kGroupHeaderSize);
static_assert(sizeof(OPCITEMHEADER1) == kItemHeaderTimeSize);
static_assert(sizeof(OPCITEMHEADER2) == kItemHeaderSize);
static_assert(sizeof(OPCGROUPHEADERWRITE) == kWriteGroupHeaderSize);
static_assert(sizeof(OPCITEMHEADERWRITE) == kWriteItemHeaderSize);

// Little-endian field writers: the block is a byte layout, not an array of structures, and a
// value area starts wherever the previous string ended.
class Writer {
 public:
  explicit Writer(unsigned char* at) : at_(at) {}
  void u16(std::uint16_t v) { put(&v, 2); }
  void u32(std::uint32_t v) { put(&v, 4); }
  void i32(std::int32_t v) { put(&v, 4); }
  void bytes(const void* data, std::size_t n) { put(data, n); }
  std::size_t offset(const unsigned char* base) const { return static_cast<std::size_t>(at_ - base); }

 private:
  void put(const void* data, std::size_t n) {
    if (n != 0) std::memcpy(at_, data, n);
    at_ += n;
  }
  unsigned char* at_;
};

bool is_string(const VARIANT* v) { return v != nullptr && v->vt == VT_BSTR; }

std::uint32_t string_bytes(const VARIANT* v) { return is_string(v) ? com::SysStringByteLen(v->bstrVal) : 0; }

std::size_t value_size(const VARIANT* v) {
  return kStreamVariantSize + (is_string(v) ? 4 + static_cast<std::size_t>(string_bytes(v)) : 0);
}

// The 16 stream bytes of a VARIANT. Anything the value part points to (a string, an array, an
// interface, a by-reference target) lives in this process only and is freed once the block is
// sent, so the pointer is written as 0; a string's characters follow the VARIANT instead.
void write_variant(Writer& w, const VARIANT* v) {
  VARIANT copy;
  std::memset(&copy, 0, sizeof copy);
  if (v != nullptr) copy = *v;
  VARTYPE vt = copy.vt;
  bool points = (vt & (VT_ARRAY | VT_BYREF)) != 0 || vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN;
  unsigned char raw[sizeof(VARIANT)];
  std::memcpy(raw, &copy, sizeof raw);
  if (points) std::memset(raw + 8, 0, 8);
  w.bytes(raw, kStreamVariantSize);
  if (vt == VT_BSTR) {
    std::uint32_t n = string_bytes(v);
    w.u32(n);
    w.bytes(v->bstrVal, n);
  }
}

}  // namespace

static_assert(sizeof(VARIANT) >= kStreamVariantSize);

HGLOBAL build_data_stream(bool with_time, OPCHANDLE client_group, DWORD transaction_id, const StreamValue* values,
                          std::size_t count) {
  if (count != 0 && values == nullptr) return nullptr;
  const std::size_t header = with_time ? kItemHeaderTimeSize : kItemHeaderSize;
  constexpr std::size_t kLimit = std::numeric_limits<DWORD>::max();
  if (count > (kLimit - kGroupHeaderSize) / (header + kStreamVariantSize)) return nullptr;
  std::size_t total = kGroupHeaderSize + count * header;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t size = value_size(values[i].value);
    if (size > kLimit - total) return nullptr;
    total += size;
  }

  HGLOBAL block = GlobalAlloc(GMEM_FIXED, total);
  if (block == nullptr) return nullptr;
  auto* base = static_cast<unsigned char*>(GlobalLock(block));
  Writer head(base);
  head.u32(static_cast<DWORD>(total));
  head.u32(static_cast<DWORD>(count));
  head.u32(client_group);
  head.u32(transaction_id);
  head.i32(S_OK);

  Writer data(base + kGroupHeaderSize + count * header);
  for (std::size_t i = 0; i < count; ++i) {
    const StreamValue& item = values[i];
    head.u32(item.client_handle);
    head.u32(static_cast<DWORD>(data.offset(base)));
    head.u16(item.quality);
    head.u16(0);
    if (with_time) {
      head.u32(item.timestamp.dwLowDateTime);
      head.u32(item.timestamp.dwHighDateTime);
    }
    write_variant(data, item.value);
  }
  GlobalUnlock(block);
  return block;
}

HGLOBAL build_write_complete_stream(OPCHANDLE client_group, DWORD transaction_id, const StreamWriteResult* results,
                                    std::size_t count) {
  if (count != 0 && results == nullptr) return nullptr;
  if (count > (std::numeric_limits<DWORD>::max() - kWriteGroupHeaderSize) / kWriteItemHeaderSize) return nullptr;
  std::size_t total = kWriteGroupHeaderSize + count * kWriteItemHeaderSize;
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, total);
  if (block == nullptr) return nullptr;
  auto* base = static_cast<unsigned char*>(GlobalLock(block));
  Writer w(base);
  w.u32(static_cast<DWORD>(count));
  w.u32(client_group);
  w.u32(transaction_id);
  w.i32(S_OK);
  for (std::size_t i = 0; i < count; ++i) {
    w.u32(results[i].client_handle);
    w.i32(results[i].error);
  }
  GlobalUnlock(block);
  return block;
}

}  // namespace hbt::opc
