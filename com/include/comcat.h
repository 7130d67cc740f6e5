/* Component categories: which classes implement which categories (for example "OPC Data
   Access Servers Version 2.0"), kept in the registry and served by the standard component
   categories manager. */
#ifndef HBTCOM_COMCAT_H
#define HBTCOM_COMCAT_H

#include "objidl.h"

typedef GUID CATID;
#ifdef __cplusplus
typedef const CATID& REFCATID;
#else
typedef const CATID* REFCATID;
#endif

DEFINE_OLEGUID(CLSID_StdComponentCategoriesMgr, 0x0002E005, 0, 0);
DEFINE_OLEGUID(IID_IEnumGUID, 0x0002E000, 0, 0);
DEFINE_OLEGUID(IID_IEnumCATEGORYINFO, 0x0002E011, 0, 0);
DEFINE_OLEGUID(IID_ICatRegister, 0x0002E012, 0, 0);
DEFINE_OLEGUID(IID_ICatInformation, 0x0002E013, 0, 0);
#define IID_IEnumCLSID IID_IEnumGUID
#define IID_IEnumCATID IID_IEnumGUID

typedef struct tagCATEGORYINFO {
  CATID catid;
  LCID lcid;
  OLECHAR szDescription[128];
} CATEGORYINFO, *LPCATEGORYINFO;

#undef INTERFACE
#define INTERFACE IEnumGUID
DECLARE_INTERFACE_(IEnumGUID, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Next)(THIS_ ULONG count, GUID* items, ULONG* fetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG count) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumGUID** copy) PURE;
};
typedef IEnumGUID IEnumCLSID;
typedef IEnumGUID IEnumCATID;

#undef INTERFACE
#define INTERFACE IEnumCATEGORYINFO
DECLARE_INTERFACE_(IEnumCATEGORYINFO, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Next)(THIS_ ULONG count, CATEGORYINFO* items, ULONG* fetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG count) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumCATEGORYINFO** copy) PURE;
};

#undef INTERFACE
#define INTERFACE ICatRegister
DECLARE_INTERFACE_(ICatRegister, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(RegisterCategories)(THIS_ ULONG count, CATEGORYINFO* categories) PURE;
  STDMETHOD(UnRegisterCategories)(THIS_ ULONG count, CATID* catids) PURE;
  STDMETHOD(RegisterClassImplCategories)(THIS_ REFCLSID clsid, ULONG count, CATID* catids) PURE;
  STDMETHOD(UnRegisterClassImplCategories)(THIS_ REFCLSID clsid, ULONG count, CATID* catids) PURE;
  STDMETHOD(RegisterClassReqCategories)(THIS_ REFCLSID clsid, ULONG count, CATID* catids) PURE;
  STDMETHOD(UnRegisterClassReqCategories)(THIS_ REFCLSID clsid, ULONG count, CATID* catids) PURE;
};

#undef INTERFACE
#define INTERFACE ICatInformation
DECLARE_INTERFACE_(ICatInformation, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(EnumCategories)(THIS_ LCID lcid, IEnumCATEGORYINFO** categories) PURE;
  STDMETHOD(GetCategoryDesc)(THIS_ REFCATID catid, LCID lcid, LPWSTR* description) PURE;
  /* A count of (ULONG)-1 means "whatever the class implements / requires". */
  STDMETHOD(EnumClassesOfCategories)(THIS_ ULONG implemented_count, const CATID* implemented,
                                     ULONG required_count, const CATID* required, IEnumGUID** classes) PURE;
  STDMETHOD(IsClassOfCategories)(THIS_ REFCLSID clsid, ULONG implemented_count, const CATID* implemented,
                                 ULONG required_count, const CATID* required) PURE;
  STDMETHOD(EnumImplCategoriesOfClass)(THIS_ REFCLSID clsid, IEnumGUID** catids) PURE;
  STDMETHOD(EnumReqCategoriesOfClass)(THIS_ REFCLSID clsid, IEnumGUID** catids) PURE;
};

#endif
