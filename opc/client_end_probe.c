/* An OPC client in plain C whose end is what the whole-process tests look at. It activates
 * the server by its ProgID, adds a group with items, connects an IOPCDataCallback and an
 * IOPCShutdown sink, waits for the first data change and then, by its first argument:
 *
 *   exit            returns from main holding the server, its group, items and both sinks;
 *   exit-inside     calls exit(0) from inside that data change, on the server's thread;
 *   release-inside  lets go of everything, its last server reference included, inside that
 *                   data change, then checks that the server gave both sinks back; prints
 *                   "released in N ms" (the time the releases took inside the callback).
 *
 * The remaining arguments are item IDs (PLC1:D:100 when none are given). The exit status is 0
 * when every step did what it should, else the number of the step that did not. */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "opcda.h"

enum { kMaxItems = 16, kWaitMs = 20000 };

static long long now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static void sleep_ms(int ms) {
  struct timespec t = {ms / 1000, (long)(ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

/* Everything the client holds, so that the callback can let it go. */
typedef struct Held {
  IOPCServer* server;
  IOPCItemMgt* items;
} Held;

typedef enum Mode { kExit, kExitInside, kReleaseInside } Mode;

typedef struct DataSink {
  IOPCDataCallback iface;
  LONG references;
  LONG changes;
  LONG released_ms; /* -1 until the releases inside the callback are done */
  Mode mode;
  Held* held;
} DataSink;

typedef struct ShutdownSink {
  IOPCShutdown iface;
  LONG references;
} ShutdownSink;

static LONG load(LONG* p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }

static HRESULT STDMETHODCALLTYPE data_query(IOPCDataCallback* This, REFIID riid, void** out) {
  if (out == NULL) return E_POINTER;
  if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &IID_IOPCDataCallback)) {
    *out = This;
    This->lpVtbl->AddRef(This);
    return S_OK;
  }
  *out = NULL;
  return E_NOINTERFACE;
}
static ULONG STDMETHODCALLTYPE data_add_ref(IOPCDataCallback* This) {
  return (ULONG)__atomic_add_fetch(&((DataSink*)This)->references, 1, __ATOMIC_SEQ_CST);
}
static ULONG STDMETHODCALLTYPE data_release(IOPCDataCallback* This) {
  return (ULONG)__atomic_sub_fetch(&((DataSink*)This)->references, 1, __ATOMIC_SEQ_CST);
}
static HRESULT STDMETHODCALLTYPE data_change(IOPCDataCallback* This, DWORD transaction, OPCHANDLE group,
                                             HRESULT master_quality, HRESULT master_error, DWORD count,
                                             OPCHANDLE* clients, VARIANT* values, WORD* qualities,
                                             FILETIME* stamps, HRESULT* errors) {
  DataSink* sink = (DataSink*)This;
  (void)transaction, (void)group, (void)master_quality, (void)master_error, (void)count, (void)clients;
  (void)values, (void)qualities, (void)stamps, (void)errors;
  if (__atomic_add_fetch(&sink->changes, 1, __ATOMIC_SEQ_CST) != 1) return S_OK;
  if (sink->mode == kExitInside) exit(0);
  if (sink->mode == kReleaseInside) {
    long long start = now_ms();
    sink->held->items->lpVtbl->Release(sink->held->items);
    sink->held->server->lpVtbl->Release(sink->held->server);
    __atomic_store_n(&sink->released_ms, (LONG)(now_ms() - start), __ATOMIC_SEQ_CST);
  }
  return S_OK;
}
static HRESULT STDMETHODCALLTYPE data_read_complete(IOPCDataCallback* This, DWORD transaction, OPCHANDLE group,
                                                    HRESULT master_quality, HRESULT master_error, DWORD count,
                                                    OPCHANDLE* clients, VARIANT* values, WORD* qualities,
                                                    FILETIME* stamps, HRESULT* errors) {
  (void)This, (void)transaction, (void)group, (void)master_quality, (void)master_error, (void)count;
  (void)clients, (void)values, (void)qualities, (void)stamps, (void)errors;
  return S_OK;
}
static HRESULT STDMETHODCALLTYPE data_write_complete(IOPCDataCallback* This, DWORD transaction, OPCHANDLE group,
                                                     HRESULT master_error, DWORD count, OPCHANDLE* clients,
                                                     HRESULT* errors) {
  (void)This, (void)transaction, (void)group, (void)master_error, (void)count, (void)clients, (void)errors;
  return S_OK;
}
static HRESULT STDMETHODCALLTYPE data_cancel_complete(IOPCDataCallback* This, DWORD transaction, OPCHANDLE group) {
  (void)This, (void)transaction, (void)group;
  return S_OK;
}
static const IOPCDataCallbackVtbl kDataVtbl = {data_query,         data_add_ref,        data_release,
                                               data_change,        data_read_complete,  data_write_complete,
                                               data_cancel_complete};

static HRESULT STDMETHODCALLTYPE shutdown_query(IOPCShutdown* This, REFIID riid, void** out) {
  if (out == NULL) return E_POINTER;
  if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &IID_IOPCShutdown)) {
    *out = This;
    This->lpVtbl->AddRef(This);
    return S_OK;
  }
  *out = NULL;
  return E_NOINTERFACE;
}
static ULONG STDMETHODCALLTYPE shutdown_add_ref(IOPCShutdown* This) {
  return (ULONG)__atomic_add_fetch(&((ShutdownSink*)This)->references, 1, __ATOMIC_SEQ_CST);
}
static ULONG STDMETHODCALLTYPE shutdown_release(IOPCShutdown* This) {
  return (ULONG)__atomic_sub_fetch(&((ShutdownSink*)This)->references, 1, __ATOMIC_SEQ_CST);
}
static HRESULT STDMETHODCALLTYPE shutdown_request(IOPCShutdown* This, LPCWSTR reason) {
  (void)This, (void)reason;
  return S_OK;
}
static const IOPCShutdownVtbl kShutdownVtbl = {shutdown_query, shutdown_add_ref, shutdown_release, shutdown_request};

/* Connects `sink` to the connection point for `iid` of `object`; 0 on success. */
static int connect(IUnknown* object, REFIID iid, IUnknown* sink) {
  IConnectionPointContainer* container = NULL;
  IConnectionPoint* point = NULL;
  DWORD cookie = 0;
  int failed = 1;
  if (object->lpVtbl->QueryInterface(object, &IID_IConnectionPointContainer, (void**)&container) != S_OK) return 1;
  if (container->lpVtbl->FindConnectionPoint(container, iid, &point) == S_OK) {
    failed = point->lpVtbl->Advise(point, sink, &cookie) != S_OK;
    point->lpVtbl->Release(point);
  }
  container->lpVtbl->Release(container);
  return failed;
}

/* Waits until *value reaches `wanted` (or more); 0 when it did within the time. */
static int wait_for(LONG* value, LONG wanted) {
  long long end = now_ms() + kWaitMs;
  while (load(value) < wanted) {
    if (now_ms() > end) return 1;
    sleep_ms(5);
  }
  return 0;
}

/* Static, like the sinks of most clients: they outlive main and are never freed. */
static DataSink data_sink = {{&kDataVtbl}, 1, 0, -1, kExit, NULL};
static ShutdownSink shutdown_sink = {{&kShutdownVtbl}, 1};
static Held held;

int main(int argc, char** argv) {
  static const char* kDefaultItems[] = {"PLC1:D:100"};
  const char** item_ids = kDefaultItems;
  unsigned count = 1, i;
  OLECHAR ids[kMaxItems][65];
  OPCITEMDEF defs[kMaxItems];
  OPCITEMRESULT* results = NULL;
  HRESULT* errors = NULL;
  CLSID clsid;
  IUnknown* unknown = NULL;
  OPCHANDLE group_handle = 0;
  DWORD revised = 0;

  if (argc < 2) {
    fprintf(stderr, "usage: %s exit|exit-inside|release-inside [ITEM...]\n", argv[0]);
    return 2;
  }
  if (strcmp(argv[1], "exit") == 0) {
    data_sink.mode = kExit;
  } else if (strcmp(argv[1], "exit-inside") == 0) {
    data_sink.mode = kExitInside;
  } else if (strcmp(argv[1], "release-inside") == 0) {
    data_sink.mode = kReleaseInside;
  } else {
    fprintf(stderr, "%s: unknown mode %s\n", argv[0], argv[1]);
    return 2;
  }
  if (argc > 2) {
    item_ids = (const char**)argv + 2;
    count = (unsigned)(argc - 2) < kMaxItems ? (unsigned)(argc - 2) : kMaxItems;
  }
  data_sink.held = &held;

  if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return 3;
  if (CLSIDFromProgID(u"Velmora.Brenlow", &clsid) != S_OK) return 4;
  if (CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IOPCServer, (void**)&held.server) != S_OK) return 5;
  if (held.server->lpVtbl->AddGroup(held.server, u"end probe", TRUE, 100, 1, NULL, NULL, 1033, &group_handle,
                                    &revised, &IID_IOPCItemMgt, &unknown) != S_OK)
    return 6;
  held.items = (IOPCItemMgt*)unknown;
  memset(defs, 0, sizeof defs);
  for (i = 0; i < count; ++i) {
    unsigned k;
    for (k = 0; k < 64 && item_ids[i][k] != 0; ++k) ids[i][k] = (OLECHAR)item_ids[i][k];
    ids[i][k] = 0;
    defs[i].szItemID = ids[i];
    defs[i].bActive = TRUE;
    defs[i].hClient = i + 1;
  }
  if (held.items->lpVtbl->AddItems(held.items, count, defs, &results, &errors) != S_OK) return 7;
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  if (connect((IUnknown*)held.server, &IID_IOPCShutdown, (IUnknown*)&shutdown_sink)) return 8;
  if (connect((IUnknown*)held.items, &IID_IOPCDataCallback, (IUnknown*)&data_sink)) return 9;
  if (wait_for(&data_sink.changes, 1)) return 10;

  switch (data_sink.mode) {
    case kExit:
      printf("leaving with the server held\n");
      return 0;
    case kExitInside:
      if (wait_for(&data_sink.changes, 1000000)) return 11; /* exit(0) comes first */
      return 11;
    case kReleaseInside:
      if (wait_for(&data_sink.released_ms, 0)) return 12;
      printf("released in %ld ms\n", (long)load(&data_sink.released_ms));
      /* The server's end gives back both sinks it held. */
      {
        long long end = now_ms() + kWaitMs;
        while (load(&data_sink.references) != 1 || load(&shutdown_sink.references) != 1) {
          if (now_ms() > end) return 13;
          sleep_ms(5);
        }
      }
      CoFreeUnusedLibraries();
      CoUninitialize();
      return load(&data_sink.released_ms) < 1000 ? 0 : 14;
  }
  return 1;
}
