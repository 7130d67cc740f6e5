// Reading the blocks an OPC DA 1.0 server hands to IAdviseSink::OnDataChange: a group header,
// one item header per item, then the values (16 bytes of VARIANT each; a string follows its
// VARIANT as a 4-byte byte length and the UTF-16 characters, an array as its SAFEARRAY
// descriptor in the 32-bit layout and its elements). Every offset and length is checked
// against the block, so a malformed block is refused, never read past its end.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "opcda.h"

namespace hbt::hbtopc {

enum class StreamFormat { kData, kDataTime, kWriteComplete };

struct StreamItem {
  OPCHANDLE client = 0;
  WORD quality = 0;
  FILETIME timestamp{};  // data-with-time only
  VARIANT value{};       // owned; VT_EMPTY when the block cannot carry the value
  VARTYPE sent_type = VT_EMPTY;  // the type the block names (some are named but not carried)
  HRESULT error = S_OK;  // write-complete only
};

struct DecodedStream {
  DecodedStream() = default;
  ~DecodedStream();
  DecodedStream(const DecodedStream&) = delete;
  DecodedStream& operator=(const DecodedStream&) = delete;

  DWORD size = 0;  // as the header says (data formats)
  OPCHANDLE group = 0;
  DWORD transaction = 0;
  HRESULT status = S_OK;
  std::vector<StreamItem> items;
};

// False with *error saying what is wrong when the block does not hold a well-formed stream.
bool decode_stream(StreamFormat format, const unsigned char* block, std::size_t block_size, DecodedStream* out,
                   std::string* error);

}  // namespace hbt::hbtopc
