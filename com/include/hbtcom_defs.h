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

/* Enumerations cross the interfaces as 32-bit integers, and the other side may pass any
   value. C++ gives them a fixed underlying type (the unsigned int the compilers pick for
   them anyway), so that a value outside the list is one the receiver may look at and refuse,
   not an undefined one:  typedef enum tagFOO HBTCOM_ENUM_BASE { ... } FOO; */
#ifdef __cplusplus
#define HBTCOM_ENUM_BASE : unsigned int
#else
#define HBTCOM_ENUM_BASE
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

/* The same, in the spelling the OPC headers use: HBT_DECLARE_INTERFACE(name) derives from
   IUnknown, HBT_IUNKNOWN_METHODS lists its three methods (in C only; C++ inherits them),
   HBT_END_INTERFACE(name) closes the declaration, and HBT_INTERFACE names the interface being
   declared. */
#ifdef __cplusplus
#define HBT_EXTERN_C extern "C"
#define HBT_FORWARD(name) struct name
#define HBT_DECLARE_INTERFACE(name) struct name : public IUnknown
#define HBT_DECLARE_INTERFACE_(name, base) struct name : public base
#define HBT_METHOD(method) virtual HRESULT method
#define HBT_METHOD_(type, method) virtual type method
#define HBT_PURE = 0
#define HBT_THIS_
#define HBT_THIS void
#define HBT_IUNKNOWN_METHODS
#define HBT_END_INTERFACE(name) \
 protected:                     \
  ~name() = default;            \
  }
#else
#define HBT_EXTERN_C extern
#define HBT_FORWARD(name) typedef struct name name
#define HBT_DECLARE_INTERFACE(name)     \
  typedef struct name##Vtbl name##Vtbl; \
  struct name {                         \
    const name##Vtbl* lpVtbl;           \
  };                                    \
  struct name##Vtbl
#define HBT_DECLARE_INTERFACE_(name, base) HBT_DECLARE_INTERFACE(name)
#define HBT_METHOD(method) HRESULT (*method)
#define HBT_METHOD_(type, method) type (*method)
#define HBT_PURE
#define HBT_THIS_ HBT_INTERFACE* This,
#define HBT_THIS HBT_INTERFACE* This
#define HBT_IUNKNOWN_METHODS                                                    \
  HBT_METHOD(QueryInterface)(HBT_THIS_ REFIID riid, void** ppvObject) HBT_PURE; \
  HBT_METHOD_(ULONG, AddRef)(HBT_THIS) HBT_PURE;                                \
  HBT_METHOD_(ULONG, Release)(HBT_THIS) HBT_PURE;
#define HBT_END_INTERFACE(name) }
#endif

#endif
