// SAFEARRAY: the Automation array. One dimension is supported; the element type is kept with
// the array (as Windows does with FADF_HAVEVARTYPE), strings and variants are copied in and
// out, and an array that is locked cannot be destroyed.
#pragma once

#include "com/types.h"

namespace hbt::com {

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_VARIANT = 0x0800;

// Null when the type is not an element type of this subset, cDims is not 1, or memory runs out.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayCopy(const SAFEARRAY* psa, SAFEARRAY** out);

// Element at the index (one index per dimension) copied out of / into the array.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* out);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value);

UINT SafeArrayGetDim(const SAFEARRAY* psa);
UINT SafeArrayGetElemsize(const SAFEARRAY* psa);
// nDim counts from 1.
HRESULT SafeArrayGetUBound(const SAFEARRAY* psa, UINT nDim, LONG* upper);
HRESULT SafeArrayGetLBound(const SAFEARRAY* psa, UINT nDim, LONG* lower);
HRESULT SafeArrayGetVartype(const SAFEARRAY* psa, VARTYPE* vt);

HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);

}  // namespace hbt::com
