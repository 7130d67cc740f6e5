// VARIANT: the Automation tagged value, with its life-cycle functions. The layout is the
// public one (com/include/oaidl.h), field for field as on Windows.
#pragma once

#include "com/include/oleauto.h"
#include "com/types.h"

namespace hbt::com {

using ::VARIANT;
using ::VARIANTARG;

extern "C" void VariantInit(VARIANTARG* v);
// Frees what the variant owns (string, array) and leaves it VT_EMPTY.
extern "C" HRESULT VariantClear(VARIANTARG* v);
// Clears `dest`, then copies `src` into it, duplicating strings and arrays.
extern "C" HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// Converts `src` to type `vt` into `dest` (which may be `src`). Scalars of the fundamental
// types convert into each other; an array converts only to its own type. On failure `dest`
// is left as it was.
extern "C" HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
extern "C" HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags,
                                       VARTYPE vt);

// Size in bytes of one value of a scalar variant type; 0 for types this subset does not hold.
ULONG variant_type_size(VARTYPE vt);

}  // namespace hbt::com
