// Classes the runtime serves itself, without a registry entry or a library to load (the
// standard component categories manager).
#pragma once

#include "com/include/objbase.h"

namespace hbt::com {

// CLASS_E_CLASSNOTAVAILABLE when `clsid` is not a built-in class.
HRESULT builtin_class_object(REFCLSID clsid, REFIID riid, void** object);

// The class object of the component categories manager.
HRESULT component_categories_class_object(REFIID riid, void** object);

}  // namespace hbt::com
