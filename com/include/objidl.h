/* The object interfaces a client and a server exchange: the task allocator, streams,
   enumerators of strings and objects, and persistence through a file. */
#ifndef HBTCOM_OBJIDL_H
#define HBTCOM_OBJIDL_H

#include "unknwn.h"

DEFINE_OLEGUID(IID_IMalloc, 0x00000002, 0, 0);
DEFINE_OLEGUID(IID_IStream, 0x0000000C, 0, 0);
DEFINE_OLEGUID(IID_IEnumUnknown, 0x00000100, 0, 0);
DEFINE_OLEGUID(IID_IEnumString, 0x00000101, 0, 0);
DEFINE_OLEGUID(IID_IPersistFile, 0x0000010B, 0, 0);
DEFINE_OLEGUID(IID_IPersist, 0x0000010C, 0, 0);
DEFINE_OLEGUID(IID_IDataObject, 0x0000010E, 0, 0);
DEFINE_OLEGUID(IID_IAdviseSink, 0x0000010F, 0, 0);
DEFINE_GUID(IID_ISequentialStream, 0x0C733A30, 0x2A1C, 0x11CE, 0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D);

#define MEMCTX_TASK 1

#undef INTERFACE
#define INTERFACE IMalloc
DECLARE_INTERFACE_(IMalloc, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD_(void*, Alloc)(THIS_ SIZE_T size) PURE;
  STDMETHOD_(void*, Realloc)(THIS_ void* block, SIZE_T size) PURE;
  STDMETHOD_(void, Free)(THIS_ void* block) PURE;
  STDMETHOD_(SIZE_T, GetSize)(THIS_ void* block) PURE;
  STDMETHOD_(int, DidAlloc)(THIS_ void* block) PURE;
  STDMETHOD_(void, HeapMinimize)(THIS) PURE;
};
typedef IMalloc* LPMALLOC;

typedef struct tagSTATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
} STATSTG;

#define STREAM_SEEK_SET 0
#define STREAM_SEEK_CUR 1
#define STREAM_SEEK_END 2
#define STGTY_STREAM 2
#define STATFLAG_DEFAULT 0
#define STATFLAG_NONAME 1

#undef INTERFACE
#define INTERFACE ISequentialStream
DECLARE_INTERFACE_(ISequentialStream, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Read)(THIS_ void* data, ULONG size, ULONG* read) PURE;
  STDMETHOD(Write)(THIS_ const void* data, ULONG size, ULONG* written) PURE;
};

#undef INTERFACE
#define INTERFACE IStream
DECLARE_INTERFACE_(IStream, ISequentialStream) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Read)(THIS_ void* data, ULONG size, ULONG* read) PURE;
  STDMETHOD(Write)(THIS_ const void* data, ULONG size, ULONG* written) PURE;
  STDMETHOD(Seek)(THIS_ LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) PURE;
  STDMETHOD(SetSize)(THIS_ ULARGE_INTEGER size) PURE;
  STDMETHOD(CopyTo)(THIS_ IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) PURE;
  STDMETHOD(Commit)(THIS_ DWORD flags) PURE;
  STDMETHOD(Revert)(THIS) PURE;
  STDMETHOD(LockRegion)(THIS_ ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) PURE;
  STDMETHOD(UnlockRegion)(THIS_ ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) PURE;
  STDMETHOD(Stat)(THIS_ STATSTG* stat, DWORD flags) PURE;
  STDMETHOD(Clone)(THIS_ IStream** copy) PURE;
};
typedef IStream* LPSTREAM;

#undef INTERFACE
#define INTERFACE IEnumString
DECLARE_INTERFACE_(IEnumString, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Next)(THIS_ ULONG count, LPOLESTR* items, ULONG* fetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG count) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumString** copy) PURE;
};
typedef IEnumString* LPENUMSTRING;

#undef INTERFACE
#define INTERFACE IEnumUnknown
DECLARE_INTERFACE_(IEnumUnknown, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Next)(THIS_ ULONG count, IUnknown** items, ULONG* fetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG count) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumUnknown** copy) PURE;
};
typedef IEnumUnknown* LPENUMUNKNOWN;

#undef INTERFACE
#define INTERFACE IPersist
DECLARE_INTERFACE_(IPersist, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(GetClassID)(THIS_ CLSID* clsid) PURE;
};

#undef INTERFACE
#define INTERFACE IPersistFile
DECLARE_INTERFACE_(IPersistFile, IPersist) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(GetClassID)(THIS_ CLSID* clsid) PURE;
  STDMETHOD(IsDirty)(THIS) PURE;
  STDMETHOD(Load)(THIS_ LPCOLESTR file_name, DWORD mode) PURE;
  STDMETHOD(Save)(THIS_ LPCOLESTR file_name, BOOL remember) PURE;
  STDMETHOD(SaveCompleted)(THIS_ LPCOLESTR file_name) PURE;
  STDMETHOD(GetCurFile)(THIS_ LPOLESTR* file_name) PURE;
};

#endif
