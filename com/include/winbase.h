/* Kernel functions of the COM runtime: clock and calendar conversions, MS-DOS dates, and the
   global memory blocks that clipboard-format data (OPC DA 1.0 streams) travels in. */
#ifndef HBTCOM_WINBASE_H
#define HBTCOM_WINBASE_H

#include "wtypes.h"

#define INFINITE 0xFFFFFFFFu

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GMEM_SHARE 0x2000u
#define GMEM_DDESHARE GMEM_SHARE
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

HBTCOM_BEGIN_C

STDAPI_(void) GetSystemTime(SYSTEMTIME* out); /* UTC */
STDAPI_(void) GetSystemTimeAsFileTime(FILETIME* out);
/* FALSE for fields out of range (year 1601..30827, a real day of the month, ...). */
STDAPI_(BOOL) SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out);
STDAPI_(BOOL) FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out);
/* FALSE outside 1980-01-01 .. 2107-12-31; seconds are rounded down to an even number. */
STDAPI_(BOOL) FileTimeToDosDateTime(const FILETIME* in, WORD* dos_date, WORD* dos_time);
STDAPI_(BOOL) DosDateTimeToFileTime(WORD dos_date, WORD dos_time, FILETIME* out);

/* A block of `size` bytes. GMEM_FIXED: the handle is the address; GMEM_MOVEABLE: an opaque
   handle that GlobalLock turns into the address. Null when memory runs out. */
STDAPI_(HGLOBAL) GlobalAlloc(UINT flags, SIZE_T size);
/* Null on success; the handle itself when it is not a live block. */
STDAPI_(HGLOBAL) GlobalFree(HGLOBAL block);
STDAPI_(HGLOBAL) GlobalReAlloc(HGLOBAL block, SIZE_T size, UINT flags);
/* Address of the block and one more lock; null for a handle that is not a live block. */
STDAPI_(LPVOID) GlobalLock(HGLOBAL block);
/* Non-zero while the block stays locked. */
STDAPI_(BOOL) GlobalUnlock(HGLOBAL block);
/* 0 for a handle that is not a live block. */
STDAPI_(SIZE_T) GlobalSize(HGLOBAL block);
STDAPI_(HGLOBAL) GlobalHandle(LPCVOID address);

HBTCOM_END_C

#endif
