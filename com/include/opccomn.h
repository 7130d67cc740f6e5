/* OPC Common interfaces (IOPCCommon, IOPCShutdown) and the OPC server categories, with the
 * identifiers of the published OPC Common and Data Access specifications. Plain C (through
 * lpVtbl) and C++. */
#ifndef HBT_OPCCOMN_H
#define HBT_OPCCOMN_H

#include "objbase.h"

/* Interfaces are declared once for both languages with the COM declaration macros; the
 * IUnknown slots are listed again first, as the C vtable needs them. */
#define OPC_IUNKNOWN_METHODS                                                \
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** ppvObject) PURE;      \
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;                                     \
  STDMETHOD_(ULONG, Release)(THIS) PURE;
#ifdef __cplusplus
#define OPC_FORWARD(iface) struct iface
#else
#define OPC_FORWARD(iface) typedef struct iface iface
#endif

OPC_FORWARD(IOPCCommon);
OPC_FORWARD(IOPCShutdown);

#undef INTERFACE
#define INTERFACE IOPCShutdown
DECLARE_INTERFACE_(IOPCShutdown, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(ShutdownRequest)(THIS_ LPCWSTR szReason) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCCommon
DECLARE_INTERFACE_(IOPCCommon, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(SetLocaleID)(THIS_ LCID dwLcid) PURE;
  STDMETHOD(GetLocaleID)(THIS_ LCID* pdwLcid) PURE;
  STDMETHOD(QueryAvailableLocaleIDs)(THIS_ DWORD* pdwCount, LCID** pdwLcid) PURE;
  STDMETHOD(GetErrorString)(THIS_ HRESULT dwError, LPWSTR* ppString) PURE;
  STDMETHOD(SetClientName)(THIS_ LPCWSTR szName) PURE;
};

#undef INTERFACE

/* {F31DFDE1-07B6-11D2-B2D8-0060083BA1FB} and {F31DFDE2-...}. */
static const IID IID_IOPCShutdown = {0xF31DFDE1, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
static const IID IID_IOPCCommon = {0xF31DFDE2, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
/* The enumerator of OPC servers: {13486D50-4821-11D2-A494-3CB306C10000}, its class {...D51...}. */
static const IID IID_IOPCServerList = {0x13486D50, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
static const CLSID CLSID_OPCServerList = {0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};

/* Component categories of OPC Data Access servers. */
static const GUID CATID_OPCDAServer10 = {0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
static const GUID CATID_OPCDAServer20 = {0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
static const GUID CATID_OPCDAServer30 = {0xCC603642, 0x66D7, 0x48F1, {0xB6, 0x9A, 0xB6, 0x25, 0xE7, 0x36, 0x52, 0xD7}};
static const GUID CATID_XMLDAServer10 = {0x3098EDA4, 0xA006, 0x48B2, {0xA2, 0x7F, 0x24, 0x74, 0x53, 0x95, 0x94, 0x08}};

#endif /* HBT_OPCCOMN_H */
