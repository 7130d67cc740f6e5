/* A small in-process server the runtime's tests activate: one class, registered under the
   ProgIDs "HbtTest.Server.1" and "HbtTest.Server", with one interface usable from C and C++. */
#ifndef HBTCOM_TEST_SERVER_H
#define HBTCOM_TEST_SERVER_H

#include "objbase.h"

/* {3B5E8C10-74A2-4D1B-9E3F-0C6A1D2E4B57} */
DEFINE_GUID(CLSID_TestServer, 0x3B5E8C10, 0x74A2, 0x4D1B, 0x9E, 0x3F, 0x0C, 0x6A, 0x1D, 0x2E, 0x4B, 0x57);
/* {3B5E8C11-74A2-4D1B-9E3F-0C6A1D2E4B57} */
DEFINE_GUID(IID_ITestServer, 0x3B5E8C11, 0x74A2, 0x4D1B, 0x9E, 0x3F, 0x0C, 0x6A, 0x1D, 0x2E, 0x4B, 0x57);

#define TEST_SERVER_PROGID "HbtTest.Server.1"
#define TEST_SERVER_VERSION_INDEPENDENT_PROGID "HbtTest.Server"

#undef INTERFACE
#define INTERFACE ITestServer
DECLARE_INTERFACE_(ITestServer, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Add)(THIS_ LONG a, LONG b, LONG* sum) PURE;
  /* A BSTR the caller frees with SysFreeString. */
  STDMETHOD(Describe)(THIS_ BSTR* text) PURE;
  /* `count` strings in one task-memory array, each in task memory of its own. */
  STDMETHOD(Names)(THIS_ ULONG* count, LPOLESTR** names) PURE;
  /* Address of a variable inside the loaded library: equal for objects of one load. */
  STDMETHOD_(const void*, Instance)(THIS) PURE;
};

#endif
