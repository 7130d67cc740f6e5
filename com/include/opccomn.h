/* OPC Common interfaces (IOPCCommon, IOPCShutdown, the server browser IOPCServerList and
 * IOPCServerList2) and the OPC server categories, with the identifiers of the published OPC
 * Common and Data Access specifications. Plain C (through lpVtbl) and C++. */
#ifndef HBT_OPCCOMN_H
#define HBT_OPCCOMN_H

#include "comcat.h"
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
OPC_FORWARD(IOPCServerList);
OPC_FORWARD(IOPCEnumGUID);
OPC_FORWARD(IOPCServerList2);

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

/* The server browser (the class OPCServerList): OPC servers by component category, as a
 * client on another machine finds them. */
#undef INTERFACE
#define INTERFACE IOPCServerList
DECLARE_INTERFACE_(IOPCServerList, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(EnumClassesOfCategories)(THIS_ ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                      CATID rgcatidReq[], IEnumGUID** ppenumClsid) PURE;
  STDMETHOD(GetClassDetails)(THIS_ REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) PURE;
  STDMETHOD(CLSIDFromProgID)(THIS_ LPCOLESTR szProgId, LPCLSID clsid) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCEnumGUID
DECLARE_INTERFACE_(IOPCEnumGUID, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(Next)(THIS_ ULONG celt, GUID* rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG celt) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IOPCEnumGUID** ppenum) PURE;
};
typedef IOPCEnumGUID* LPOPCENUMGUID;

#undef INTERFACE
#define INTERFACE IOPCServerList2
DECLARE_INTERFACE_(IOPCServerList2, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(EnumClassesOfCategories)(THIS_ ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                      CATID rgcatidReq[], IOPCEnumGUID** ppenumClsid) PURE;
  STDMETHOD(GetClassDetails)(THIS_ REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType,
                              LPOLESTR* ppszVerIndProgID) PURE;
  STDMETHOD(CLSIDFromProgID)(THIS_ LPCOLESTR szProgId, LPCLSID clsid) PURE;
};

#undef INTERFACE

/* {F31DFDE1-07B6-11D2-B2D8-0060083BA1FB} and {F31DFDE2-...}. */
static const IID IID_IOPCShutdown = {0xF31DFDE1, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
static const IID IID_IOPCCommon = {0xF31DFDE2, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
/* The enumerator of OPC servers: {13486D50-4821-11D2-A494-3CB306C10000}, its class {...D51...}. */
static const IID IID_IOPCServerList = {0x13486D50, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
static const CLSID CLSID_OPCServerList = {0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
/* Its second version and enumerator: {9DD0B56C-AD9E-43EE-8305-487F3188BF7A},
 * {55C382C8-21C7-4E88-96C1-BECFB1E3F483}. */
static const IID IID_IOPCServerList2 = {0x9DD0B56C, 0xAD9E, 0x43EE, {0x83, 0x05, 0x48, 0x7F, 0x31, 0x88, 0xBF, 0x7A}};
static const IID IID_IOPCEnumGUID = {0x55C382C8, 0x21C7, 0x4E88, {0x96, 0xC1, 0xBE, 0xCF, 0xB1, 0xE3, 0xF4, 0x83}};

/* Component categories of OPC Data Access servers. */
static const GUID CATID_OPCDAServer10 = {0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
static const GUID CATID_OPCDAServer20 = {0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
static const GUID CATID_OPCDAServer30 = {0xCC603642, 0x66D7, 0x48F1, {0xB6, 0x9A, 0xB6, 0x25, 0xE7, 0x36, 0x52, 0xD7}};
static const GUID CATID_XMLDAServer10 = {0x3098EDA4, 0xA006, 0x48B2, {0xA2, 0x7F, 0x24, 0x74, 0x53, 0x95, 0x94, 0x08}};
/* The same categories under the names the published IDL gives them. */
static const IID IID_CATID_OPCDAServer10 = {0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
static const IID IID_CATID_OPCDAServer20 = {0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
static const IID IID_CATID_OPCDAServer30 = {0xCC603642, 0x66D7, 0x48F1, {0xB6, 0x9A, 0xB6, 0x25, 0xE7, 0x36, 0x52, 0xD7}};
static const IID IID_CATID_XMLDAServer10 = {0x3098EDA4, 0xA006, 0x48B2, {0xA2, 0x7F, 0x24, 0x74, 0x53, 0x95, 0x94, 0x08}};

#endif /* HBT_OPCCOMN_H */
