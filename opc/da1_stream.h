// The DA 1.0 advise streams: "OPCSTMFORMATDATA", "OPCSTMFORMATDATATIME" and
// "OPCSTMFORMATWRITECOMPLETE", each one GlobalAlloc block in the layout of the OPC DA 1.0
// data-stream headers, sized before anything is written into it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "opc/com_base.h"

namespace hbt::opc {

// The bytes a value takes in a data stream: the first 16 bytes of its VARIANT (the Win32
// VARIANT: type, reserved words and an 8-byte value, any pointer in it written as 0). A
// VT_BSTR is followed by the string's byte length (4 bytes) and its UTF-16 units, with no
// terminating zero. A VT_ARRAY is followed by its SAFEARRAY descriptor in the 32-bit Windows
// layout (cDims, fFeatures, cbElements, cLocks 0, pvData 0: 16 bytes, then cElements and
// lLbound of each dimension) and its elements, strings each as a VT_BSTR's. A value that lives
// only behind a pointer (an interface, a reference) goes out as VT_EMPTY.
inline constexpr std::size_t kStreamVariantSize = 16;

struct StreamValue {
  OPCHANDLE client_handle;
  const VARIANT* value;  // not owned; read while the block is built
  WORD quality;
  FILETIME timestamp;  // written only in the data-with-time format
};

struct StreamWriteResult {
  OPCHANDLE client_handle;
  HRESULT error;
};

// A data stream, with OPCITEMHEADER1 per item (timestamps) or OPCITEMHEADER2 (none); hrStatus
// is S_FALSE when any item's quality is not good. Null when memory runs out or the block would
// not fit the 32-bit size field.
HGLOBAL build_data_stream(bool with_time, OPCHANDLE client_group, DWORD transaction_id, const StreamValue* values,
                          std::size_t count);

// A write-complete stream: OPCGROUPHEADERWRITE and one OPCITEMHEADERWRITE per item.
HGLOBAL build_write_complete_stream(OPCHANDLE client_group, DWORD transaction_id, const StreamWriteResult* results,
                                    std::size_t count);

}  // namespace hbt::opc
