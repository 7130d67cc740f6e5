#include "da1_stream.h"

#include <cstdint>
#include <cstring>

#include "oleauto.h"

namespace hbt::hbtopc {

namespace {

template <typename T>
T read_at(const unsigned char* block, std::size_t offset) {
  T value;
  std::memcpy(&value, block + offset, sizeof value);
  return value;
}

// Types whose 16 bytes hold the whole value (and array elements this reader takes); anything
// with a pointer in it (interfaces, references) would point into the server's memory.
bool self_contained(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_ERROR: case VT_BOOL:
      return true;
  }
  return false;
}

// A string after its VARIANT (or as an array element): its byte length and characters.
bool decode_text(const unsigned char* block, std::size_t size, std::size_t* at, std::u16string* text,
                 std::string* error) {
  if (*at > size || size - *at < 4) {
    *error = "a string's length lies beyond the end of the block";
    return false;
  }
  const auto bytes = read_at<std::uint32_t>(block, *at);
  if (bytes % 2 != 0 || bytes > size - *at - 4) {
    *error = "a string of " + std::to_string(bytes) + " bytes does not fit the block";
    return false;
  }
  text->assign(bytes / 2, u'\0');
  std::memcpy(text->data(), block + *at + 4, bytes);
  *at += 4 + bytes;
  return true;
}

// An array after its VARIANT: the SAFEARRAY descriptor in the 32-bit layout published DA 1.0
// servers send (cDims, fFeatures, cbElements, cLocks, a 4-byte pvData, then cElements and
// lLbound per dimension) and the elements. A one-dimensional array of numbers, BOOLs or
// strings becomes the item's value; anything else is checked against the block and named.
bool decode_array(const unsigned char* block, std::size_t size, std::size_t at, VARTYPE vt, StreamItem* item,
                  std::string* error) {
  constexpr std::size_t kDescriptor = 16;
  if (at > size || size - at < kDescriptor) {
    *error = "an array's descriptor lies beyond the end of the block";
    return false;
  }
  const auto dims = read_at<std::uint16_t>(block, at);
  const auto element_size = read_at<std::uint32_t>(block, at + 4);
  at += kDescriptor;
  if (dims == 0 || static_cast<std::size_t>(dims) > (size - at) / 8) {
    *error = "an array of " + std::to_string(dims) + " dimensions does not fit the block";
    return false;
  }
  std::uint64_t count = 1;
  LONG lower = 0;
  for (std::uint16_t d = 0; d < dims; ++d, at += 8) {
    count *= read_at<std::uint32_t>(block, at);
    if (d == 0) lower = read_at<std::int32_t>(block, at + 4);
    if (count > size) {
      *error = "an array of more elements than the block has bytes";
      return false;
    }
  }
  const VARTYPE element = vt & VT_TYPEMASK;
  std::vector<std::u16string> texts;
  if (element == VT_BSTR) {
    for (std::uint64_t i = 0; i < count; ++i) {
      texts.emplace_back();
      if (!decode_text(block, size, &at, &texts.back(), error)) return false;
    }
  } else {
    if (element_size == 0 || element_size > size || count * element_size > size - at) {
      *error = "an array's elements do not fit the block";
      return false;
    }
  }
  if (dims != 1 || !self_contained(element)) return true;  // named, not taken
  SAFEARRAY* a = SafeArrayCreateVector(element, lower, static_cast<ULONG>(count));
  if (a == nullptr) return true;
  if (element != VT_BSTR && SafeArrayGetElemsize(a) != element_size) {
    SafeArrayDestroy(a);
    *error = "an array of " + std::to_string(element_size) + "-byte elements of type " + std::to_string(element);
    return false;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    LONG index = lower + static_cast<LONG>(i);
    if (element == VT_BSTR) {
      BSTR text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(texts[i].data()), static_cast<UINT>(texts[i].size()));
      SafeArrayPutElement(a, &index, text);
      SysFreeString(text);
    } else {
      SafeArrayPutElement(a, &index, const_cast<unsigned char*>(block + at + i * element_size));
    }
  }
  item->value.vt = vt;
  item->value.parray = a;
  return true;
}

bool decode_value(const unsigned char* block, std::size_t size, std::size_t offset, StreamItem* item,
                  std::string* error) {
  if (offset > size || size - offset < sizeof(VARIANT)) {
    *error = "a value lies beyond the end of the block";
    return false;
  }
  VARIANT raw;
  std::memcpy(&raw, block + offset, sizeof raw);
  item->sent_type = raw.vt;
  VariantInit(&item->value);
  if (raw.vt == VT_BSTR) {
    std::size_t at = offset + sizeof(VARIANT);
    std::u16string text;
    if (!decode_text(block, size, &at, &text, error)) return false;
    item->value.vt = VT_BSTR;
    item->value.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
    return true;
  }
  if ((raw.vt & VT_ARRAY) && !(raw.vt & VT_BYREF))
    return decode_array(block, size, offset + sizeof(VARIANT), raw.vt, item, error);
  if (self_contained(raw.vt)) item->value = raw;
  return true;
}

}  // namespace

DecodedStream::~DecodedStream() {
  for (auto& item : items) VariantClear(&item.value);
}

bool decode_stream(StreamFormat format, const unsigned char* block, std::size_t block_size, DecodedStream* out,
                   std::string* error) {
  if (block == nullptr) {
    *error = "no block";
    return false;
  }
  if (format == StreamFormat::kWriteComplete) {
    if (block_size < sizeof(OPCGROUPHEADERWRITE)) {
      *error = "the block is shorter than its header";
      return false;
    }
    const auto header = read_at<OPCGROUPHEADERWRITE>(block, 0);
    if (header.dwItemCount > (block_size - sizeof header) / sizeof(OPCITEMHEADERWRITE)) {
      *error = std::to_string(header.dwItemCount) + " items do not fit a block of " + std::to_string(block_size) +
               " bytes";
      return false;
    }
    out->group = header.hClientGroup;
    out->transaction = header.dwTransactionID;
    out->status = header.hrStatus;
    out->size = static_cast<DWORD>(sizeof header + header.dwItemCount * sizeof(OPCITEMHEADERWRITE));
    for (DWORD i = 0; i < header.dwItemCount; ++i) {
      const auto entry = read_at<OPCITEMHEADERWRITE>(block, sizeof header + i * sizeof(OPCITEMHEADERWRITE));
      StreamItem item;
      item.client = entry.hClient;
      item.error = entry.dwError;
      out->items.push_back(item);
    }
    return true;
  }
  if (block_size < sizeof(OPCGROUPHEADER)) {
    *error = "the block is shorter than its header";
    return false;
  }
  const auto header = read_at<OPCGROUPHEADER>(block, 0);
  if (header.dwSize > block_size || header.dwSize < sizeof header) {
    *error = "the header says " + std::to_string(header.dwSize) + " bytes, the block has " +
             std::to_string(block_size);
    return false;
  }
  const std::size_t size = header.dwSize;
  const std::size_t item_header = format == StreamFormat::kDataTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  if (header.dwItemCount > (size - sizeof header) / item_header) {
    *error = std::to_string(header.dwItemCount) + " item headers do not fit " + std::to_string(size) + " bytes";
    return false;
  }
  const std::size_t values_start = sizeof header + header.dwItemCount * item_header;
  out->size = header.dwSize;
  out->group = header.hClientGroup;
  out->transaction = header.dwTransactionID;
  out->status = header.hrStatus;
  out->items.reserve(header.dwItemCount);
  for (DWORD i = 0; i < header.dwItemCount; ++i) {
    const std::size_t at = sizeof header + i * item_header;
    out->items.emplace_back();
    StreamItem& item = out->items.back();
    DWORD value_offset = 0;
    if (format == StreamFormat::kDataTime) {
      const auto h = read_at<OPCITEMHEADER1>(block, at);
      item.client = h.hClient;
      item.quality = h.wQuality;
      item.timestamp = h.ftTimeStampItem;
      value_offset = h.dwValueOffset;
    } else {
      const auto h = read_at<OPCITEMHEADER2>(block, at);
      item.client = h.hClient;
      item.quality = h.wQuality;
      value_offset = h.dwValueOffset;
    }
    if (value_offset < values_start) {
      *error = "item " + std::to_string(i) + "'s value lies inside the headers";
      return false;
    }
    if (!decode_value(block, size, value_offset, &item, error)) return false;
  }
  return true;
}

}  // namespace hbt::hbtopc
