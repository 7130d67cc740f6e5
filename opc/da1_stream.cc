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
// value area starts wherever the previous value ended. A writer without a block only counts,
// which sizes the block by the same steps that fill it.
class Writer {
 public:
  explicit Writer(unsigned char* at = nullptr) : at_(at) {}
  void u16(std::uint16_t v) { put(&v, 2); }
  void u32(std::uint32_t v) { put(&v, 4); }
  void i32(std::int32_t v) { put(&v, 4); }
  void bytes(const void* data, std::size_t n) { put(data, n); }
  std::size_t offset(const unsigned char* base) const { return static_cast<std::size_t>(at_ - base); }
  // Bytes put so far, saturated: a count this large never fits the 32-bit size field.
  std::size_t count() const { return count_; }

 private:
  void put(const void* data, std::size_t n) {
    if (at_ != nullptr && n != 0) std::memcpy(at_, data, n);
    advance(n);
  }
  void advance(std::size_t n) {
    if (at_ != nullptr) at_ += n;
    count_ = n > std::numeric_limits<std::size_t>::max() - count_ ? std::numeric_limits<std::size_t>::max()
                                                                  : count_ + n;
  }
  unsigned char* at_;
  std::size_t count_ = 0;
};

// Only the element kind of an array's features means anything to the reader; the others say
// how this process allocated it.
constexpr USHORT kElementKindFeatures = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT;
// An array of VARIANTs holds arrays of its own: deeper than this, a value goes out empty.
constexpr int kMaxNesting = 8;

std::uint32_t string_bytes(BSTR text) { return text != nullptr ? com::SysStringByteLen(text) : 0; }

void write_string(Writer& w, BSTR text) {
  std::uint32_t n = string_bytes(text);
  w.u32(n);
  w.bytes(text, n);
}

// Elements of every dimension; false when there are more than any block could hold.
bool element_count(const SAFEARRAY* a, std::size_t* out) {
  std::size_t n = a->cDims == 0 ? 0 : 1;
  for (USHORT d = 0; d < a->cDims; ++d) {
    const std::size_t dim = a->rgsabound[d].cElements;
    if (dim != 0 && n > std::numeric_limits<DWORD>::max() / dim) return false;
    n *= dim;
  }
  *out = n;
  return true;
}

// Whether the stream can carry a value: not one that lives only behind a pointer the client
// cannot follow (an interface, a reference), nor an array of such.
bool carried(const VARIANT& v, int depth) {
  if (v.vt & VT_BYREF) return false;
  const VARTYPE base = v.vt & VT_TYPEMASK;
  if (base == VT_DISPATCH || base == VT_UNKNOWN) return false;
  if (!(v.vt & VT_ARRAY)) return true;
  std::size_t n = 0;
  const SAFEARRAY* a = v.parray;
  if (a == nullptr || depth >= kMaxNesting || !element_count(a, &n)) return false;
  if (n != 0 && a->pvData == nullptr) return false;
  if (base == VT_VARIANT) {
    const auto* elements = static_cast<const VARIANT*>(a->pvData);
    for (std::size_t i = 0; i < n; ++i)
      if (!carried(elements[i], depth + 1)) return false;
  }
  return true;
}

void write_value(Writer& w, const VARIANT* v, int depth);

// An array after its VARIANT, as published DA 1.0 servers send one: the SAFEARRAY descriptor
// in its 32-bit Windows layout (the data pointer written as 0, no locks), one bound per
// dimension, then the elements in the order they lie in the array. Strings go as a value's
// string does; VARIANT elements as stream values of their own.
void write_array(Writer& w, const SAFEARRAY* a, VARTYPE element, int depth) {
  std::size_t n = 0;
  element_count(a, &n);
  w.u16(a->cDims);
  w.u16(static_cast<std::uint16_t>(a->fFeatures & kElementKindFeatures));
  w.u32(a->cbElements);
  w.u32(0);  // cLocks
  w.u32(0);  // pvData
  for (USHORT d = 0; d < a->cDims; ++d) {
    w.u32(a->rgsabound[d].cElements);
    w.i32(a->rgsabound[d].lLbound);
  }
  if (element == VT_BSTR) {
    const auto* strings = static_cast<const BSTR*>(a->pvData);
    for (std::size_t i = 0; i < n; ++i) write_string(w, strings[i]);
  } else if (element == VT_VARIANT) {
    const auto* values = static_cast<const VARIANT*>(a->pvData);
    for (std::size_t i = 0; i < n; ++i) write_value(w, &values[i], depth + 1);
  } else if (n != 0) {
    // At most 2^32 elements of at most 2^32 bytes: the product fits 64 bits.
    w.bytes(a->pvData, n * a->cbElements);
  }
}

// The stream bytes of a value: the 16 bytes of its VARIANT (the Win32 VARIANT: type, reserved
// words and an 8-byte value) and what the client needs to read its data. Anything the value
// part points to lives in this process only and is freed once the block is sent, so the
// pointer is written as 0 and the data follows the VARIANT instead: a string's byte length and
// characters, an array's descriptor and elements. A value the stream cannot carry goes out as
// VT_EMPTY.
void write_value(Writer& w, const VARIANT* v, int depth) {
  VARIANT copy;
  std::memset(&copy, 0, sizeof copy);
  if (v != nullptr && carried(*v, depth)) copy = *v;
  const VARTYPE vt = copy.vt;
  unsigned char raw[sizeof(VARIANT)];
  std::memcpy(raw, &copy, sizeof raw);
  if (vt == VT_BSTR || (vt & VT_ARRAY)) std::memset(raw + 8, 0, 8);
  w.bytes(raw, kStreamVariantSize);
  if (vt == VT_BSTR) write_string(w, copy.bstrVal);
  if (vt & VT_ARRAY) write_array(w, copy.parray, vt & VT_TYPEMASK, depth);
}

std::size_t value_size(const VARIANT* v) {
  Writer counter;
  write_value(counter, v, 0);
  return counter.count();
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
  // S_FALSE tells a client at a glance that some item of the block is not good.
  HRESULT status = S_OK;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t size = value_size(values[i].value);
    if (size > kLimit - total) return nullptr;
    total += size;
    if ((values[i].quality & OPC_QUALITY_MASK) != OPC_QUALITY_GOOD) status = S_FALSE;
  }

  HGLOBAL block = GlobalAlloc(GMEM_FIXED, total);
  if (block == nullptr) return nullptr;
  auto* base = static_cast<unsigned char*>(GlobalLock(block));
  Writer head(base);
  head.u32(static_cast<DWORD>(total));
  head.u32(static_cast<DWORD>(count));
  head.u32(client_group);
  head.u32(transaction_id);
  head.i32(status);

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
    write_value(data, item.value, 0);
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
