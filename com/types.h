// The Windows base types, result codes and variant type numbers that the Automation subset
// is written in. They are the public C definitions (com/include), named again in hbt::com so
// that code of this system can say com::VARIANT and com::FAILED.
#pragma once

#include "com/include/wtypes.h"

namespace hbt::com {

using ::BOOL;
using ::BSTR;
using ::BYTE;
using ::CHAR;
using ::DATE;
using ::DOUBLE;
using ::DWORD;
using ::FLOAT;
using ::HRESULT;
using ::INT;
using ::LCID;
using ::LONG;
using ::LONGLONG;
using ::OLECHAR;
using ::SCODE;
using ::SHORT;
using ::UINT;
using ::ULONG;
using ::ULONGLONG;
using ::USHORT;
using ::VARIANT_BOOL;
using ::VARTYPE;
using ::WORD;

using ::FAILED;
using ::SUCCEEDED;
using ::VARIANT_FALSE;
using ::VARIANT_TRUE;

using ::VARENUM;
using ::VT_ARRAY;
using ::VT_BOOL;
using ::VT_BSTR;
using ::VT_BYREF;
using ::VT_CY;
using ::VT_DATE;
using ::VT_DECIMAL;
using ::VT_DISPATCH;
using ::VT_EMPTY;
using ::VT_ERROR;
using ::VT_I1;
using ::VT_I2;
using ::VT_I4;
using ::VT_I8;
using ::VT_INT;
using ::VT_NULL;
using ::VT_R4;
using ::VT_R8;
using ::VT_TYPEMASK;
using ::VT_UI1;
using ::VT_UI2;
using ::VT_UI4;
using ::VT_UI8;
using ::VT_UINT;
using ::VT_UNKNOWN;
using ::VT_VARIANT;
using ::VT_VECTOR;

}  // namespace hbt::com
