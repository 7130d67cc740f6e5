/* A plain C client of the OPC server, written as an OPC client in C is: through lpVtbl, the
 * published identifiers and the COM runtime only. It activates the server by its ProgID, adds
 * a group and items, checks what came back and releases everything. Returns 0 when every step
 * did what it should, otherwise the number of the step that did not. */
#include <stddef.h>
#include <string.h>

#include "opcda.h"

int opc_c_client_run(const OLECHAR* progid, const OLECHAR* const* item_ids, unsigned count,
                     VARTYPE* canonical_types) {
  CLSID clsid;
  IOPCServer* server = NULL;
  IUnknown* unknown = NULL;
  IOPCItemMgt* items = NULL;
  OPCITEMDEF defs[16];
  OPCITEMRESULT* results = NULL;
  HRESULT* errors = NULL;
  OPCHANDLE group_handle = 0;
  DWORD revised = 0;
  OPCSERVERSTATUS* status = NULL;
  unsigned i;
  int step = 0;

  if (count == 0 || count > 16) return 1;
  if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return 1;
  if (CLSIDFromProgID(progid, &clsid) != S_OK) step = 2;
  if (!step && CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IOPCServer, (void**)&server) != S_OK)
    step = 3;
  if (step) {
    CoUninitialize();
    return step;
  }

  if (server->lpVtbl->GetStatus(server, &status) != S_OK || status->wMajorVersion != 7) step = 4;
  if (status) {
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
  }
  if (!step && server->lpVtbl->AddGroup(server, u"c client", TRUE, 500, 1, NULL, NULL, 1033, &group_handle,
                                        &revised, &IID_IOPCItemMgt, &unknown) != S_OK)
    step = 5;
  if (!step) {
    items = (IOPCItemMgt*)unknown;
    memset(defs, 0, sizeof defs);
    for (i = 0; i < count; ++i) {
      defs[i].szItemID = (LPWSTR)item_ids[i];
      defs[i].bActive = TRUE;
      defs[i].hClient = i + 1;
    }
    if (FAILED(items->lpVtbl->AddItems(items, count, defs, &results, &errors))) step = 6;
  }
  if (!step) {
    for (i = 0; i < count; ++i) canonical_types[i] = SUCCEEDED(errors[i]) ? results[i].vtCanonicalDataType : 0;
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    if (server->lpVtbl->RemoveGroup(server, group_handle, FALSE) != OPC_S_INUSE) step = 7;
  }
  if (items) items->lpVtbl->Release(items);
  server->lpVtbl->Release(server);
  CoUninitialize();
  return step;
}
