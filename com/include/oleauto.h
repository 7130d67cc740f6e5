/* Automation functions: strings (BSTR), variants, arrays and date conversions. A null BSTR
   counts as the empty string everywhere. */
#ifndef HBTCOM_OLEAUTO_H
#define HBTCOM_OLEAUTO_H

#include "oaidl.h"

/* VariantChangeType flags. */
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

HBTCOM_BEGIN_C

/* Copies up to the first NUL of `text`; null text gives null. */
STDAPI_(BSTR) SysAllocString(const OLECHAR* text);
/* `length` units copied from `text`, or zero-filled when `text` is null. */
STDAPI_(BSTR) SysAllocStringLen(const OLECHAR* text, UINT length);
/* `length` bytes copied from `bytes` (or zero-filled); the byte count may be odd. */
STDAPI_(BSTR) SysAllocStringByteLen(const char* bytes, UINT length);
/* Replace *target with a new copy; FALSE (and *target unchanged) when memory runs out. */
STDAPI_(INT) SysReAllocString(BSTR* target, const OLECHAR* text);
STDAPI_(INT) SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
STDAPI_(void) SysFreeString(BSTR text);
STDAPI_(UINT) SysStringLen(BSTR text);     /* in UTF-16 units */
STDAPI_(UINT) SysStringByteLen(BSTR text); /* in bytes */

STDAPI_(void) VariantInit(VARIANTARG* v);
/* Frees what the variant owns (string, array, interface) and leaves it VT_EMPTY. */
STDAPI VariantClear(VARIANTARG* v);
/* Clears `dest`, then copies `src` into it, duplicating strings and arrays. */
STDAPI VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
/* Converts `src` to type `vt` into `dest` (which may be `src`); on failure `dest` is left as
   it was. */
STDAPI VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
STDAPI VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt);

/* One-dimensional arrays of the scalar types, BSTR and VARIANT. */
STDAPI_(SAFEARRAY*) SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds);
STDAPI_(SAFEARRAY*) SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count);
STDAPI SafeArrayDestroy(SAFEARRAY* psa);
STDAPI SafeArrayCopy(const SAFEARRAY* psa, SAFEARRAY** out);
STDAPI SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* out);
STDAPI SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value);
STDAPI_(UINT) SafeArrayGetDim(const SAFEARRAY* psa);
STDAPI_(UINT) SafeArrayGetElemsize(const SAFEARRAY* psa);
STDAPI SafeArrayGetUBound(const SAFEARRAY* psa, UINT dim, LONG* upper);
STDAPI SafeArrayGetLBound(const SAFEARRAY* psa, UINT dim, LONG* lower);
STDAPI SafeArrayGetVartype(const SAFEARRAY* psa, VARTYPE* vt);
STDAPI SafeArrayLock(SAFEARRAY* psa);
STDAPI SafeArrayUnlock(SAFEARRAY* psa);
STDAPI SafeArrayAccessData(SAFEARRAY* psa, void** data);
STDAPI SafeArrayUnaccessData(SAFEARRAY* psa);

/* DATE <-> SYSTEMTIME, years 100..9999, to the whole second. */
STDAPI_(INT) SystemTimeToVariantTime(const SYSTEMTIME* in, DATE* out);
STDAPI_(INT) VariantTimeToSystemTime(DATE in, SYSTEMTIME* out);
/* MS-DOS date and time (1980-01-01 to 2099-12-31, two-second steps) <-> DATE. A day past the
   end of its month moves into the next month, day 0 is the last day of the previous one. */
STDAPI_(INT) DosDateTimeToVariantTime(USHORT dos_date, USHORT dos_time, DOUBLE* out);
STDAPI_(INT) VariantTimeToDosDateTime(DOUBLE in, USHORT* dos_date, USHORT* dos_time);

HBTCOM_END_C

#endif
