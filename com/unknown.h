// GUID and IUnknown: the identity and reference-counting base of every COM interface.
#pragma once

#include "com/include/unknwn.h"
#include "com/types.h"

// For a function that calls methods of an object the caller handed in. COM objects may be
// written in C, with a table of function pointers where C++ would have a vtable with type
// information; the undefined-behaviour sanitizer's vptr check would take such a call for a
// fault, so it is off for these functions only.
#define HBT_CALLS_FOREIGN_OBJECTS __attribute__((no_sanitize("vptr")))

namespace hbt::com {

using ::CLSID;
using ::GUID;
using ::IID;
using ::IID_IUnknown;
using ::IsEqualGUID;
using ::IUnknown;
using ::REFCLSID;
using ::REFIID;

}  // namespace hbt::com
