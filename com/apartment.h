// Whether the calling thread may use COM objects (it, or some thread of the process, called
// CoInitializeEx and has not uninitialised).
#pragma once

#include "com/include/objbase.h"

namespace hbt::com {

bool apartment_initialised();

}  // namespace hbt::com
