/* The COM runtime (libhbtcom.so): initialisation, class activation through the registry's
   HKCR\CLSID\{...}\InprocServer32, the task allocator, GUID texts, and the hand-over of
   interface pointers between threads. Including this header brings in every public COM
   declaration a client needs. */
#ifndef HBTCOM_OBJBASE_H
#define HBTCOM_OBJBASE_H

#include "comcat.h"
#include "oaidl.h"
#include "objidl.h"
#include "ocidl.h"
#include "oleauto.h"
#include "unknwn.h"
#include "winbase.h"
#include "winuser.h"
#include "wtypes.h"

typedef enum tagCOINIT HBTCOM_ENUM_BASE {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

typedef enum tagCLSCTX HBTCOM_ENUM_BASE {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10
} CLSCTX;
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

/* Length of "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" with its terminating NUL. */
#define CHARS_IN_GUID 39

/* What an in-process server library exports. */
typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID clsid, REFIID riid, void** object);
typedef HRESULT (*LPFNCANUNLOADNOW)(void);

HBTCOM_BEGIN_C

/* S_OK for the first call on a thread, S_FALSE for each further one (each needs its own
   CoUninitialize); RPC_E_CHANGED_MODE when the thread was initialised with another model.
   Every apartment of this runtime is free-threaded. */
STDAPI CoInitializeEx(LPVOID reserved, DWORD coinit);
STDAPI CoInitialize(LPVOID reserved);
STDAPI_(void) CoUninitialize(void);

/* Activation of in-process servers: HKCR\CLSID\{clsid}\InprocServer32 names the library, which
   is loaded once and asked for its class object with DllGetClassObject. REGDB_E_CLASSNOTREG
   for a class that is not registered (or not for an in-process context),
   HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) for a library file that does not exist,
   CO_E_ERRORINDLL for one that cannot be loaded or has no DllGetClassObject,
   CO_E_NOTINITIALIZED when no thread of the process called CoInitializeEx. */
STDAPI CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID server_info, REFIID riid, LPVOID* object);
STDAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* object);
/* Unloads the libraries whose DllCanUnloadNow answers S_OK. A free-threaded library
   (ThreadingModel "Free", "Both" or "Neutral") becomes a candidate first and goes only when a
   later call finds it still unused `delay_ms` after that (INFINITE: 10 minutes, 0: at once);
   any other library goes at once. CoFreeUnusedLibraries is the Ex call with INFINITE. */
STDAPI_(void) CoFreeUnusedLibraries(void);
STDAPI_(void) CoFreeUnusedLibrariesEx(DWORD delay_ms, DWORD reserved);

STDAPI CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid);
/* The ProgID in task memory. */
STDAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid);
/* "{...}" (registry form) or a ProgID. */
STDAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
STDAPI IIDFromString(LPCOLESTR text, LPIID iid);
/* Number of characters written, NUL included (39), or 0 when the buffer is too small. */
STDAPI_(int) StringFromGUID2(REFGUID guid, LPOLESTR text, int size);
STDAPI StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
STDAPI StringFromIID(REFIID iid, LPOLESTR* text);
STDAPI CoCreateGuid(GUID* guid);

/* The task allocator: memory handed across an interface belongs to whoever receives it and is
   given back with CoTaskMemFree. CoTaskMemAlloc(0) gives a valid block; CoTaskMemRealloc with
   a null block allocates, with size 0 frees the block and returns null. */
STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T size);
STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID block, SIZE_T size);
STDAPI_(void) CoTaskMemFree(LPVOID block);
/* The allocator as an IMalloc (context MEMCTX_TASK only). */
STDAPI CoGetMalloc(DWORD context, LPMALLOC* malloc);

STDAPI CoFileTimeNow(FILETIME* now);

/* Hands an interface pointer to another thread of the process: the stream holds a reference
   to the object until CoGetInterfaceAndReleaseStream takes it out (once) and releases the
   stream. */
STDAPI CoMarshalInterThreadInterfaceInStream(REFIID riid, LPUNKNOWN object, LPSTREAM* stream);
STDAPI CoGetInterfaceAndReleaseStream(LPSTREAM stream, REFIID riid, LPVOID* object);

/* Not part of Windows: why the last activation on this thread failed to load a library (the
   loader's own text), or "" after a success. The text stays valid until the thread's next
   activation. */
STDAPI_(const char*) HbtComLastLoadError(void);

HBTCOM_END_C

#endif
