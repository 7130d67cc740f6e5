/* IUnknown, the reference-counting base of every interface, and IClassFactory. */
#ifndef HBTCOM_UNKNWN_H
#define HBTCOM_UNKNWN_H

#include "wtypes.h"

DEFINE_OLEGUID(IID_IUnknown, 0x00000000, 0, 0);
DEFINE_OLEGUID(IID_IClassFactory, 0x00000001, 0, 0);

#ifdef __cplusplus
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default; /* objects go away through Release, never through delete */
};
#else
#undef INTERFACE
#define INTERFACE IUnknown
DECLARE_INTERFACE(IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
};
#endif
typedef IUnknown* LPUNKNOWN;

#undef INTERFACE
#define INTERFACE IClassFactory
DECLARE_INTERFACE_(IClassFactory, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(CreateInstance)(THIS_ IUnknown* outer, REFIID riid, void** object) PURE;
  STDMETHOD(LockServer)(THIS_ BOOL lock) PURE;
};
typedef IClassFactory* LPCLASSFACTORY;

#endif
