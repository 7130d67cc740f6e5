/* An IAdviseSink written in C through lpVtbl, and the data-transfer layouts a C client sees,
   for the tests to hold against the C++ view of the same headers. */
#ifndef HBTCOM_C_ADVISE_SINK_H
#define HBTCOM_C_ADVISE_SINK_H

#include "objbase.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A sink with one reference; what it has seen is read with c_advise_sink_seen: 0 its
   reference count, 1 OnDataChange calls, 2 the last format, 3 the last tymed, 4 the first 4
   bytes of the last HGLOBAL medium. c_advise_sink_destroy frees it whatever its count. */
IAdviseSink* c_advise_sink_create(void);
unsigned long c_advise_sink_seen(IAdviseSink* sink, int what);
void c_advise_sink_destroy(IAdviseSink* sink);
/* 0 sizeof(FORMATETC), 1 sizeof(STGMEDIUM), 2 offsetof(STGMEDIUM, pUnkForRelease),
   3 sizeof(STATDATA), 4 IAdviseSink slots, 5 IDataObject slots, 6 sizeof(DVTARGETDEVICE),
   7 offsetof(FORMATETC, tymed). */
size_t c_data_transfer_layout(int which);

#ifdef __cplusplus
}
#endif

#endif
