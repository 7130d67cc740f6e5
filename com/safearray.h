// SAFEARRAY: the Automation array. One dimension is supported; the element type is kept with
// the array (as Windows does with FADF_HAVEVARTYPE), strings and variants are copied in and
// out, and an array that is locked cannot be destroyed.
#pragma once

#include "com/include/oleauto.h"
#include "com/types.h"

namespace hbt::com {

using ::SAFEARRAY;
using ::SAFEARRAYBOUND;

// Null when the type is not an element type of this subset, cDims is not 1, or memory runs out.
extern "C" SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds);
extern "C" SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count);
extern "C" HRESULT SafeArrayDestroy(SAFEARRAY* psa);
extern "C" HRESULT SafeArrayCopy(const SAFEARRAY* psa, SAFEARRAY** out);

// Element at the index (one index per dimension) copied out of / into the array.
extern "C" HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* out);
extern "C" HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value);

extern "C" UINT SafeArrayGetDim(const SAFEARRAY* psa);
extern "C" UINT SafeArrayGetElemsize(const SAFEARRAY* psa);
// nDim counts from 1.
extern "C" HRESULT SafeArrayGetUBound(const SAFEARRAY* psa, UINT nDim, LONG* upper);
extern "C" HRESULT SafeArrayGetLBound(const SAFEARRAY* psa, UINT nDim, LONG* lower);
extern "C" HRESULT SafeArrayGetVartype(const SAFEARRAY* psa, VARTYPE* vt);

extern "C" HRESULT SafeArrayLock(SAFEARRAY* psa);
extern "C" HRESULT SafeArrayUnlock(SAFEARRAY* psa);
extern "C" HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data);
extern "C" HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);

}  // namespace hbt::com
