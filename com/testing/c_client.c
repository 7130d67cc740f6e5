/* Plain C, through lpVtbl: what an OPC client written in C does with the runtime. */
#include "c_client.h"

#include <string.h>

#include "test_server.h"

static int same_text(const OLECHAR* a, const OLECHAR* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

int run_c_client(void) {
  CLSID clsid;
  ITestServer* server = NULL;
  IUnknown* unknown = NULL;
  IMalloc* malloc_interface = NULL;
  LONG sum = 0;
  BSTR text = NULL;
  ULONG count = 0;
  LPOLESTR* names = NULL;
  LPOLESTR progid = NULL;
  void* block;
  ULONG i;
  int failed_step = 0;

  if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return 1;
  if (CLSIDFromProgID(u"" TEST_SERVER_VERSION_INDEPENDENT_PROGID, &clsid) != S_OK) failed_step = 2;
  if (!failed_step && !IsEqualCLSID(&clsid, &CLSID_TestServer)) failed_step = 3;
  if (!failed_step && CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_ITestServer, (void**)&server) != S_OK)
    failed_step = 4;
  if (!failed_step && (server->lpVtbl->Add(server, 40, 2, &sum) != S_OK || sum != 42)) failed_step = 5;
  if (!failed_step && server->lpVtbl->Describe(server, &text) != S_OK) failed_step = 6;
  if (!failed_step && (SysStringLen(text) != 11 || !same_text(text, u"test server"))) failed_step = 7;
  SysFreeString(text);
  if (!failed_step && server->lpVtbl->Names(server, &count, &names) != S_OK) failed_step = 8;
  if (!failed_step && (count != 3 || !same_text(names[2], u"gamma"))) failed_step = 9;
  for (i = 0; names != NULL && i < count; ++i) CoTaskMemFree(names[i]);
  CoTaskMemFree(names);
  if (!failed_step && server->lpVtbl->QueryInterface(server, &IID_IUnknown, (void**)&unknown) != S_OK) failed_step = 10;
  if (unknown != NULL) unknown->lpVtbl->Release(unknown);
  if (!failed_step && server->lpVtbl->QueryInterface(server, &IID_IClassFactory, (void**)&unknown) != E_NOINTERFACE)
    failed_step = 11;
  if (!failed_step && ProgIDFromCLSID(&clsid, &progid) != S_OK) failed_step = 12;
  if (!failed_step && !same_text(progid, u"" TEST_SERVER_PROGID)) failed_step = 13;
  CoTaskMemFree(progid);
  if (!failed_step && CoGetMalloc(MEMCTX_TASK, &malloc_interface) != S_OK) failed_step = 14;
  if (!failed_step) {
    block = malloc_interface->lpVtbl->Alloc(malloc_interface, 64);
    if (block == NULL) failed_step = 15;
    memset(block, 0xA5, 64);
    block = malloc_interface->lpVtbl->Realloc(malloc_interface, block, 128);
    if (block == NULL || ((unsigned char*)block)[63] != 0xA5) failed_step = 16;
    malloc_interface->lpVtbl->Free(malloc_interface, block);
    malloc_interface->lpVtbl->Release(malloc_interface);
  }
  if (server != NULL) server->lpVtbl->Release(server);
  CoUninitialize();
  return failed_step;
}
