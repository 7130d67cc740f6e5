// GUID and IUnknown: the identity and reference-counting base of every COM interface.
#pragma once

#include "com/include/unknwn.h"
#include "com/types.h"

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
