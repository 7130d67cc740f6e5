// VARIANT: the Automation tagged value, with its life-cycle functions. The layout follows
// the Windows one field for field (a 16-byte value here: no record member is needed).
#pragma once

#include "com/types.h"

namespace hbt::com {

struct SAFEARRAY;
struct IUnknown;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    SAFEARRAY* parray;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    FLOAT* pfltVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    DATE* pdate;
    BSTR* pbstrVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    void* byref;
    CHAR* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    ULONGLONG* pullVal;
    INT* pintVal;
    UINT* puintVal;
  };
};
using VARIANTARG = VARIANT;
static_assert(sizeof(VARIANT) == 16);

void VariantInit(VARIANTARG* v);
// Frees what the variant owns (string, array) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANTARG* v);
// Clears `dest`, then copies `src` into it, duplicating strings and arrays.
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// Converts `src` to type `vt` into `dest` (which may be `src`). Scalars of the fundamental
// types convert into each other; an array converts only to its own type. On failure `dest`
// is left as it was.
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt);

// Size in bytes of one value of a scalar variant type; 0 for types this subset does not hold.
ULONG variant_type_size(VARTYPE vt);

}  // namespace hbt::com
