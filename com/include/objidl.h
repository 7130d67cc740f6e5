/* The object interfaces a client and a server exchange: the task allocator, streams,
   enumerators of strings and objects, persistence through a file, and data transfer
   (IDataObject with its advise sinks, FORMATETC and STGMEDIUM). */
#ifndef HBTCOM_OBJIDL_H
#define HBTCOM_OBJIDL_H

#include "unknwn.h"
#include "winuser.h"

DEFINE_OLEGUID(IID_IMalloc, 0x00000002, 0, 0);
DEFINE_OLEGUID(IID_IStream, 0x0000000C, 0, 0);
DEFINE_OLEGUID(IID_IEnumUnknown, 0x00000100, 0, 0);
DEFINE_OLEGUID(IID_IEnumString, 0x00000101, 0, 0);
DEFINE_OLEGUID(IID_IEnumFORMATETC, 0x00000103, 0, 0);
DEFINE_OLEGUID(IID_IEnumSTATDATA, 0x00000105, 0, 0);
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

/* Data transfer. */

HBTCOM_FORWARD_INTERFACE(IStorage);
HBTCOM_FORWARD_INTERFACE(IMoniker);
typedef void* HBITMAP;
typedef void* HMETAFILEPICT;
typedef void* HENHMETAFILE;

typedef struct tagDVTARGETDEVICE {
  DWORD tdSize;
  WORD tdDriverNameOffset;
  WORD tdDeviceNameOffset;
  WORD tdPortNameOffset;
  WORD tdExtDevmodeOffset;
  BYTE tdData[1];
} DVTARGETDEVICE;

typedef struct tagFORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
} FORMATETC, *LPFORMATETC;

typedef enum tagTYMED HBTCOM_ENUM_BASE {
  TYMED_NULL = 0,
  TYMED_HGLOBAL = 1,
  TYMED_FILE = 2,
  TYMED_ISTREAM = 4,
  TYMED_ISTORAGE = 8,
  TYMED_GDI = 16,
  TYMED_MFPICT = 32,
  TYMED_ENHMF = 64
} TYMED;

typedef enum tagDVASPECT HBTCOM_ENUM_BASE {
  DVASPECT_CONTENT = 1,
  DVASPECT_THUMBNAIL = 2,
  DVASPECT_ICON = 4,
  DVASPECT_DOCPRINT = 8
} DVASPECT;

typedef enum tagADVF HBTCOM_ENUM_BASE {
  ADVF_NODATA = 1,
  ADVF_PRIMEFIRST = 2,
  ADVF_ONLYONCE = 4,
  ADVFCACHE_NOHANDLER = 8,
  ADVFCACHE_FORCEBUILTIN = 16,
  ADVFCACHE_ONSAVE = 32,
  ADVF_DATAONSTOP = 64
} ADVF;

typedef enum tagDATADIR HBTCOM_ENUM_BASE { DATADIR_GET = 1, DATADIR_SET = 2 } DATADIR;

/* The medium's handle is the member that tymed names; pUnkForRelease, when set, is released
   instead of freeing the handle. */
typedef struct tagSTGMEDIUM {
  DWORD tymed;
  union {
    HBITMAP hBitmap;
    HMETAFILEPICT hMetaFilePict;
    HENHMETAFILE hEnhMetaFile;
    HGLOBAL hGlobal;
    LPOLESTR lpszFileName;
    IStream* pstm;
    IStorage* pstg;
  };
  IUnknown* pUnkForRelease;
} STGMEDIUM, uSTGMEDIUM, *LPSTGMEDIUM;

#undef INTERFACE
#define INTERFACE IAdviseSink
DECLARE_INTERFACE_(IAdviseSink, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD_(void, OnDataChange)(THIS_ FORMATETC* format, STGMEDIUM* medium) PURE;
  STDMETHOD_(void, OnViewChange)(THIS_ DWORD aspect, LONG index) PURE;
  STDMETHOD_(void, OnRename)(THIS_ IMoniker* moniker) PURE;
  STDMETHOD_(void, OnSave)(THIS) PURE;
  STDMETHOD_(void, OnClose)(THIS) PURE;
};
typedef IAdviseSink* LPADVISESINK;

typedef struct tagSTATDATA {
  FORMATETC formatetc;
  DWORD advf;
  IAdviseSink* pAdvSink;
  DWORD dwConnection;
} STATDATA, *LPSTATDATA;

#undef INTERFACE
#define INTERFACE IEnumFORMATETC
DECLARE_INTERFACE_(IEnumFORMATETC, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Next)(THIS_ ULONG count, FORMATETC* items, ULONG* fetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG count) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumFORMATETC** copy) PURE;
};
typedef IEnumFORMATETC* LPENUMFORMATETC;

#undef INTERFACE
#define INTERFACE IEnumSTATDATA
DECLARE_INTERFACE_(IEnumSTATDATA, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Next)(THIS_ ULONG count, STATDATA* items, ULONG* fetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG count) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumSTATDATA** copy) PURE;
};
typedef IEnumSTATDATA* LPENUMSTATDATA;

#undef INTERFACE
#define INTERFACE IDataObject
DECLARE_INTERFACE_(IDataObject, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(GetData)(THIS_ FORMATETC* format, STGMEDIUM* medium) PURE;
  STDMETHOD(GetDataHere)(THIS_ FORMATETC* format, STGMEDIUM* medium) PURE;
  STDMETHOD(QueryGetData)(THIS_ FORMATETC* format) PURE;
  STDMETHOD(GetCanonicalFormatEtc)(THIS_ FORMATETC* format_in, FORMATETC* format_out) PURE;
  STDMETHOD(SetData)(THIS_ FORMATETC* format, STGMEDIUM* medium, BOOL release) PURE;
  STDMETHOD(EnumFormatEtc)(THIS_ DWORD direction, IEnumFORMATETC** formats) PURE;
  STDMETHOD(DAdvise)(THIS_ FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) PURE;
  STDMETHOD(DUnadvise)(THIS_ DWORD connection) PURE;
  STDMETHOD(EnumDAdvise)(THIS_ IEnumSTATDATA** advises) PURE;
};
typedef IDataObject* LPDATAOBJECT;

HBTCOM_BEGIN_C

/* Frees what the medium holds: releases pUnkForRelease when it is set, otherwise frees the
   handle the way its tymed says (GlobalFree, Release, CoTaskMemFree of a file name). The
   medium is left as TYMED_NULL. A null medium is ignored. */
STDAPI_(void) ReleaseStgMedium(STGMEDIUM* medium);

HBTCOM_END_C

#endif
