/* The COM base a C or C++ client of the OPC server is written against: Windows base types,
 * GUID, VARIANT, FILETIME, IUnknown and the standard interfaces the OPC interfaces use
 * (IClassFactory, IEnumString, IEnumUnknown, the connection points, IMalloc).
 *
 * In C++ the types are the ones the Automation subset already uses (hbt::com), made visible
 * under their Windows names, so a VARIANT filled by the host library and one built by an OPC
 * client are the same type. In C they are laid out byte for byte like those. */
#ifndef HBT_OPC_COMPAT_OBJBASE_H
#define HBT_OPC_COMPAT_OBJBASE_H

#ifdef __cplusplus

#include <cstddef>

#include "com/bstr.h"
#include "com/filetime.h"
#include "com/types.h"
#include "com/unknown.h"
#include "com/variant.h"

using hbt::com::BOOL;
using hbt::com::BSTR;
using hbt::com::BYTE;
using hbt::com::CLSID;
using hbt::com::DWORD;
using hbt::com::FILETIME;
using hbt::com::FLOAT;
using hbt::com::GUID;
using hbt::com::HRESULT;
using hbt::com::IID;
using hbt::com::IUnknown;
using hbt::com::IID_IUnknown;
using hbt::com::LCID;
using hbt::com::LONG;
using hbt::com::OLECHAR;
using hbt::com::REFCLSID;
using hbt::com::REFIID;
using hbt::com::SHORT;
using hbt::com::ULONG;
using hbt::com::VARIANT;
using hbt::com::VARTYPE;
using hbt::com::WORD;
using SIZE_T = std::size_t;
using hbt::com::FALSE;
using hbt::com::TRUE;
using hbt::com::E_FAIL;
using hbt::com::E_INVALIDARG;
using hbt::com::E_NOINTERFACE;
using hbt::com::E_NOTIMPL;
using hbt::com::E_OUTOFMEMORY;
using hbt::com::E_POINTER;
using hbt::com::E_UNEXPECTED;
using hbt::com::FAILED;
using hbt::com::S_FALSE;
using hbt::com::S_OK;
using hbt::com::SUCCEEDED;
using enum hbt::com::VARENUM;

#define HBT_EXTERN_C extern "C"
#define DECLARE_INTERFACE(name) struct name
#define DECLARE_INTERFACE_(name, base) struct name : public base
#define STDMETHOD(method) virtual HRESULT method
#define STDMETHOD_(type, method) virtual type method
#define PURE = 0
#define THIS_
#define THIS void
#define HBT_IUNKNOWN_METHODS

#else /* C */

#include <stddef.h>
#include <stdint.h>
#include <uchar.h>

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef int16_t SHORT;
typedef uint16_t WORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef float FLOAT;
typedef double DOUBLE;
typedef uint32_t LCID;
typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
typedef size_t SIZE_T;

typedef struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef const IID* REFIID;
typedef const CLSID* REFCLSID;

typedef struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

struct SAFEARRAY;
struct IUnknown;
typedef struct VARIANT {
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
    struct IUnknown* punkVal;
    struct SAFEARRAY* parray;
    char cVal;
    WORD uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    int32_t intVal;
    uint32_t uintVal;
    void* byref;
  };
} VARIANT;

#define HBT_EXTERN_C extern

#define TRUE 1
#define FALSE 0
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

enum VARENUM {
  VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6, VT_DATE = 7,
  VT_BSTR = 8, VT_DISPATCH = 9, VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12, VT_UNKNOWN = 13,
  VT_DECIMAL = 14, VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19, VT_I8 = 20, VT_UI8 = 21,
  VT_INT = 22, VT_UINT = 23, VT_VECTOR = 0x1000, VT_ARRAY = 0x2000, VT_BYREF = 0x4000, VT_TYPEMASK = 0x0FFF
};
#define DECLARE_INTERFACE(name)             \
  typedef struct name name;                 \
  typedef struct name##Vtbl name##Vtbl;     \
  struct name {                             \
    const name##Vtbl* lpVtbl;               \
  };                                        \
  struct name##Vtbl
#define DECLARE_INTERFACE_(name, base) DECLARE_INTERFACE(name)
#define STDMETHOD(method) HRESULT (*method)
#define STDMETHOD_(type, method) type (*method)
#define PURE
#define THIS_ INTERFACE* This,
#define THIS INTERFACE* This
#define HBT_IUNKNOWN_METHODS                                           \
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** ppvObject) PURE; \
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;                              \
  STDMETHOD_(ULONG, Release)(THIS) PURE;

#undef INTERFACE
#define INTERFACE IUnknown
DECLARE_INTERFACE(IUnknown) {
  HBT_IUNKNOWN_METHODS
};

#endif /* C */

typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* LPWSTR;
typedef const OLECHAR* LPCWSTR;
typedef IUnknown* LPUNKNOWN;

#ifdef __cplusplus
#define HBT_FWD(name) struct name
#else
#define HBT_FWD(name) typedef struct name name
#endif

#ifndef HBT_WINERROR_CODES
#define HBT_WINERROR_CODES
/* Result codes of COM that the OPC server returns beside the OPC ones. */
#define HBT_HR(x) ((HRESULT)(x))
#define CLASS_E_NOAGGREGATION HBT_HR(0x80040110L)
#define CLASS_E_CLASSNOTAVAILABLE HBT_HR(0x80040111L)
#define REGDB_E_CLASSNOTREG HBT_HR(0x80040154L)
#define OLE_E_NOCONNECTION HBT_HR(0x80040004L)
#define CONNECT_E_NOCONNECTION HBT_HR(0x80040200L)
#define CONNECT_E_ADVISELIMIT HBT_HR(0x80040201L)
#define CONNECT_E_CANNOTCONNECT HBT_HR(0x80040202L)
#define RPC_E_SERVERFAULT HBT_HR(0x80010105L)
#define DV_E_FORMATETC HBT_HR(0x80040064L)
#endif

HBT_FWD(IClassFactory);
HBT_FWD(IEnumString);
HBT_FWD(IEnumUnknown);
HBT_FWD(IConnectionPoint);
HBT_FWD(IConnectionPointContainer);
HBT_FWD(IEnumConnectionPoints);
HBT_FWD(IEnumConnections);
HBT_FWD(IMalloc);

typedef IEnumString* LPENUMSTRING;

typedef struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
} CONNECTDATA;

#undef INTERFACE
#define INTERFACE IClassFactory
DECLARE_INTERFACE_(IClassFactory, IUnknown) {
  HBT_IUNKNOWN_METHODS
  STDMETHOD(CreateInstance)(THIS_ IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
  STDMETHOD(LockServer)(THIS_ BOOL fLock) PURE;
};

#undef INTERFACE
#define INTERFACE IEnumString
DECLARE_INTERFACE_(IEnumString, IUnknown) {
  HBT_IUNKNOWN_METHODS
  STDMETHOD(Next)(THIS_ ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG celt) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumString** ppenum) PURE;
};

#undef INTERFACE
#define INTERFACE IEnumUnknown
DECLARE_INTERFACE_(IEnumUnknown, IUnknown) {
  HBT_IUNKNOWN_METHODS
  STDMETHOD(Next)(THIS_ ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG celt) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumUnknown** ppenum) PURE;
};

#undef INTERFACE
#define INTERFACE IConnectionPointContainer
DECLARE_INTERFACE_(IConnectionPointContainer, IUnknown) {
  HBT_IUNKNOWN_METHODS
  STDMETHOD(EnumConnectionPoints)(THIS_ IEnumConnectionPoints** ppEnum) PURE;
  STDMETHOD(FindConnectionPoint)(THIS_ REFIID riid, IConnectionPoint** ppCP) PURE;
};

#undef INTERFACE
#define INTERFACE IConnectionPoint
DECLARE_INTERFACE_(IConnectionPoint, IUnknown) {
  HBT_IUNKNOWN_METHODS
  STDMETHOD(GetConnectionInterface)(THIS_ IID* pIID) PURE;
  STDMETHOD(GetConnectionPointContainer)(THIS_ IConnectionPointContainer** ppCPC) PURE;
  STDMETHOD(Advise)(THIS_ IUnknown* pUnkSink, DWORD* pdwCookie) PURE;
  STDMETHOD(Unadvise)(THIS_ DWORD dwCookie) PURE;
  STDMETHOD(EnumConnections)(THIS_ IEnumConnections** ppEnum) PURE;
};

#undef INTERFACE
#define INTERFACE IEnumConnectionPoints
DECLARE_INTERFACE_(IEnumConnectionPoints, IUnknown) {
  HBT_IUNKNOWN_METHODS
  STDMETHOD(Next)(THIS_ ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG cConnections) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumConnectionPoints** ppEnum) PURE;
};

#undef INTERFACE
#define INTERFACE IEnumConnections
DECLARE_INTERFACE_(IEnumConnections, IUnknown) {
  HBT_IUNKNOWN_METHODS
  STDMETHOD(Next)(THIS_ ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG cConnections) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumConnections** ppEnum) PURE;
};

#undef INTERFACE
#define INTERFACE IMalloc
DECLARE_INTERFACE_(IMalloc, IUnknown) {
  HBT_IUNKNOWN_METHODS
  STDMETHOD_(void*, Alloc)(THIS_ SIZE_T cb) PURE;
  STDMETHOD_(void*, Realloc)(THIS_ void* pv, SIZE_T cb) PURE;
  STDMETHOD_(void, Free)(THIS_ void* pv) PURE;
  STDMETHOD_(SIZE_T, GetSize)(THIS_ void* pv) PURE;
  STDMETHOD_(int, DidAlloc)(THIS_ void* pv) PURE;
  STDMETHOD_(void, HeapMinimize)(THIS) PURE;
};

#undef INTERFACE

/* Identifiers of the standard interfaces, {xxxxxxxx-0000-0000-C000-000000000046} and the
 * connection-point family {B196B28x-BAB4-101A-B69C-00AA00341D07}. */
#define HBT_OLE_GUID(l) {(l), 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}
#define HBT_CP_GUID(l) {(l), 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}}
static const IID IID_IClassFactory = HBT_OLE_GUID(0x00000001);
static const IID IID_IMalloc = HBT_OLE_GUID(0x00000002);
static const IID IID_IEnumUnknown = HBT_OLE_GUID(0x00000100);
static const IID IID_IEnumString = HBT_OLE_GUID(0x00000101);
static const IID IID_IPersistFile = HBT_OLE_GUID(0x0000010B);
static const IID IID_IPersist = HBT_OLE_GUID(0x0000010C);
static const IID IID_IDataObject = HBT_OLE_GUID(0x0000010E);
static const IID IID_IConnectionPointContainer = HBT_CP_GUID(0xB196B284);
static const IID IID_IEnumConnectionPoints = HBT_CP_GUID(0xB196B285);
static const IID IID_IConnectionPoint = HBT_CP_GUID(0xB196B286);
static const IID IID_IEnumConnections = HBT_CP_GUID(0xB196B287);
#ifndef __cplusplus
static const IID IID_IUnknown = HBT_OLE_GUID(0x00000000);
#endif

/* The task allocator, with C linkage, as the COM runtime exports it. */
HBT_EXTERN_C void* CoTaskMemAlloc(SIZE_T size);
HBT_EXTERN_C void CoTaskMemFree(void* block);

#endif /* HBT_OPC_COMPAT_OBJBASE_H */
