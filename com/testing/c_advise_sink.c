/* Compiled as C: the data-transfer declarations of objidl.h are usable from plain C. */
#include "c_advise_sink.h"

#include <stdlib.h>
#include <string.h>

typedef struct CAdviseSink {
  IAdviseSink iface;
  LONG references;
  LONG data_changes;
  CLIPFORMAT last_format;
  DWORD last_tymed;
  DWORD last_first_word;
} CAdviseSink;

static HRESULT sink_query_interface(IAdviseSink* This, REFIID riid, void** object) {
  if (object == NULL) return E_POINTER;
  if (IsEqualIID(riid, &IID_IUnknown) || IsEqualIID(riid, &IID_IAdviseSink)) {
    *object = This;
    This->lpVtbl->AddRef(This);
    return S_OK;
  }
  *object = NULL;
  return E_NOINTERFACE;
}
static ULONG sink_add_ref(IAdviseSink* This) { return (ULONG)__atomic_add_fetch(&((CAdviseSink*)This)->references, 1, __ATOMIC_SEQ_CST); }
static ULONG sink_release(IAdviseSink* This) { return (ULONG)__atomic_sub_fetch(&((CAdviseSink*)This)->references, 1, __ATOMIC_SEQ_CST); }
static void sink_on_data_change(IAdviseSink* This, FORMATETC* format, STGMEDIUM* medium) {
  CAdviseSink* sink = (CAdviseSink*)This;
  sink->data_changes++;
  sink->last_format = format->cfFormat;
  sink->last_tymed = medium->tymed;
  if (medium->tymed == TYMED_HGLOBAL && medium->hGlobal != NULL) {
    const void* data = GlobalLock(medium->hGlobal);
    if (data != NULL) memcpy(&sink->last_first_word, data, sizeof(DWORD));
    GlobalUnlock(medium->hGlobal);
  }
}
static void sink_on_view_change(IAdviseSink* This, DWORD aspect, LONG index) { (void)This, (void)aspect, (void)index; }
static void sink_on_rename(IAdviseSink* This, IMoniker* moniker) { (void)This, (void)moniker; }
static void sink_on_save(IAdviseSink* This) { (void)This; }
static void sink_on_close(IAdviseSink* This) { (void)This; }

static const IAdviseSinkVtbl kSinkVtbl = {sink_query_interface, sink_add_ref,        sink_release,
                                          sink_on_data_change,  sink_on_view_change, sink_on_rename,
                                          sink_on_save,         sink_on_close};

IAdviseSink* c_advise_sink_create(void) {
  CAdviseSink* sink = (CAdviseSink*)calloc(1, sizeof *sink);
  if (sink == NULL) return NULL;
  sink->iface.lpVtbl = &kSinkVtbl;
  sink->references = 1;
  return &sink->iface;
}

unsigned long c_advise_sink_seen(IAdviseSink* This, int what) {
  CAdviseSink* sink = (CAdviseSink*)This;
  switch (what) {
    case 0: return (unsigned long)__atomic_load_n(&sink->references, __ATOMIC_SEQ_CST);
    case 1: return (unsigned long)sink->data_changes;
    case 2: return sink->last_format;
    case 3: return sink->last_tymed;
    case 4: return sink->last_first_word;
    default: return 0;
  }
}

void c_advise_sink_destroy(IAdviseSink* sink) { free(sink); }

size_t c_data_transfer_layout(int which) {
  switch (which) {
    case 0: return sizeof(FORMATETC);
    case 1: return sizeof(STGMEDIUM);
    case 2: return offsetof(STGMEDIUM, pUnkForRelease);
    case 3: return sizeof(STATDATA);
    case 4: return sizeof(IAdviseSinkVtbl) / sizeof(void*);
    case 5: return sizeof(IDataObjectVtbl) / sizeof(void*);
    case 6: return sizeof(DVTARGETDEVICE);
    case 7: return offsetof(FORMATETC, tymed);
    default: return 0;
  }
}
