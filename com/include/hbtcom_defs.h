/* Linkage and interface-declaration macros shared by every public COM header. One interface
   declaration serves both languages: C++ sees a struct of pure virtual functions (the COM
   vtable layout on this ABI), C sees a struct whose first member points at a table of
   function pointers that take the object as their first argument. */
#ifndef HBTCOM_DEFS_H
#define HBTCOM_DEFS_H

#ifdef __cplusplus
#define HBTCOM_BEGIN_C extern "C" {
#define HBTCOM_END_C }
#define HBTCOM_API extern "C" __attribute__((visibility("default")))
#else
#define HBTCOM_BEGIN_C
#define HBTCOM_END_C
#define HBTCOM_API extern __attribute__((visibility("default")))
#endif

#define STDAPI HBTCOM_API HRESULT
#define STDAPI_(type) HBTCOM_API type
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE

/* Interface declaration, in the style of the Windows headers:
     #undef INTERFACE
     #define INTERFACE IFoo
     DECLARE_INTERFACE_(IFoo, IUnknown) {
       STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
       STDMETHOD_(ULONG, AddRef)(THIS) PURE;
       STDMETHOD_(ULONG, Release)(THIS) PURE;
       STDMETHOD(Bar)(THIS_ DWORD x) PURE;
     };
   The methods of the base interfaces are listed again, first, in slot order. */
#ifdef __cplusplus
#define DECLARE_INTERFACE(iface) struct iface
#define DECLARE_INTERFACE_(iface, base) struct iface : public base
#define STDMETHOD(method) virtual HRESULT method
#define STDMETHOD_(type, method) virtual type method
#define PURE = 0
#define THIS_
#define THIS void
#define HBTCOM_FORWARD_INTERFACE(iface) struct iface
#else
#define DECLARE_INTERFACE(iface)                  \
  typedef struct iface iface;                     \
  typedef struct iface##Vtbl iface##Vtbl;         \
  struct iface {                                  \
    const iface##Vtbl* lpVtbl;                    \
  };                                              \
  struct iface##Vtbl
#define DECLARE_INTERFACE_(iface, base) DECLARE_INTERFACE(iface)
#define STDMETHOD(method) HRESULT (*method)
#define STDMETHOD_(type, method) type (*method)
#define PURE
#define THIS_ INTERFACE* This,
#define THIS INTERFACE* This
#define HBTCOM_FORWARD_INTERFACE(iface) typedef struct iface iface
#endif

#endif
