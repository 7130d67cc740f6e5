/* A plain C client of the DA 3.0 browse interface, written as an OPC client in C is: through
 * lpVtbl, the published identifiers and the COM runtime only. It activates the server by its
 * ProgID, finds a device among the branches of the root, walks the device's items a few at a
 * time through continuation points, filters them, reads properties of one and releases
 * everything. Returns 0 when every step did what it should, otherwise the number of the step
 * that did not; the item IDs met go into `ids`, one per line. */
#include <stddef.h>
#include <string.h>

#include "opcda.h"

static int same_text(const OLECHAR* a, const OLECHAR* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

static size_t text_length(const OLECHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

/* Appends an ASCII item ID and a line feed; 0 when it does not fit. */
static int append(char* out, size_t size, size_t* used, const OLECHAR* text) {
  while (*text != 0) {
    if (*used + 2 >= size || *text > 0x7E) return 0;
    out[(*used)++] = (char)*text++;
  }
  out[(*used)++] = '\n';
  out[*used] = 0;
  return 1;
}

static void free_properties(OPCITEMPROPERTIES* p) {
  DWORD i;
  for (i = 0; p->pItemProperties != NULL && i < p->dwNumProperties; ++i) {
    CoTaskMemFree(p->pItemProperties[i].szItemID);
    CoTaskMemFree(p->pItemProperties[i].szDescription);
    VariantClear(&p->pItemProperties[i].vValue);
  }
  CoTaskMemFree(p->pItemProperties);
}

static void free_elements(OPCBROWSEELEMENT* e, DWORD n) {
  DWORD i;
  for (i = 0; e != NULL && i < n; ++i) {
    CoTaskMemFree(e[i].szName);
    CoTaskMemFree(e[i].szItemID);
    free_properties(&e[i].ItemProperties);
  }
  CoTaskMemFree(e);
}

static int browse_steps(IOPCBrowse* browse, const OLECHAR* device, char* ids, size_t size) {
  LPWSTR point = NULL;
  BOOL more = TRUE;
  DWORD count = 0, i;
  OPCBROWSEELEMENT* elements = NULL;
  OLECHAR first[64];
  size_t used = 0;
  int found = 0, calls = 0;
  DWORD wanted[2] = {OPC_PROPERTY_DATATYPE, 5003};
  LPWSTR first_id = first;
  OPCITEMPROPERTIES* props = NULL;
  HRESULT hr;

  /* The root: the device is a branch with children. */
  if (browse->lpVtbl->Browse(browse, (LPWSTR)u"", &point, 0, OPC_BROWSE_FILTER_ALL, NULL, NULL, FALSE, FALSE, 0,
                             NULL, &more, &count, &elements) != S_OK)
    return 10;
  for (i = 0; i < count; ++i)
    if (same_text(elements[i].szName, device) && elements[i].dwFlagValue == OPC_BROWSE_HASCHILDREN) found = 1;
  free_elements(elements, count);
  if (!found || point != NULL || more) return 11;

  /* The device's items, two per call. */
  first[0] = 0;
  ids[0] = 0;
  do {
    elements = NULL;
    if (browse->lpVtbl->Browse(browse, (LPWSTR)device, &point, 2, OPC_BROWSE_FILTER_ITEMS, NULL, NULL, FALSE, FALSE,
                               0, NULL, &more, &count, &elements) != S_OK)
      return 12;
    if (count == 0 || count > 2 || more) return 13;
    for (i = 0; i < count; ++i) {
      if (elements[i].dwFlagValue != OPC_BROWSE_ISITEM || !append(ids, size, &used, elements[i].szItemID)) return 14;
      if (first[0] == 0) {
        if (text_length(elements[i].szItemID) >= sizeof first / sizeof first[0]) return 14;
        memcpy(first, elements[i].szItemID, sizeof(OLECHAR) * (text_length(elements[i].szItemID) + 1));
      }
    }
    free_elements(elements, count);
    ++calls;
  } while (point != NULL && calls < 100);
  if (point != NULL || calls < 2) return 15;

  /* A point the server never made is refused, and the server frees it. */
  point = (LPWSTR)CoTaskMemAlloc(6 * sizeof(OLECHAR));
  memcpy(point, u"bogus", 6 * sizeof(OLECHAR));
  elements = NULL;
  hr = browse->lpVtbl->Browse(browse, (LPWSTR)device, &point, 2, OPC_BROWSE_FILTER_ITEMS, NULL, NULL, FALSE, FALSE,
                              0, NULL, &more, &count, &elements);
  if (hr != OPC_E_INVALIDCONTINUATIONPOINT || point != NULL || elements != NULL || count != 0) return 16;

  /* Only the relays, with every property of each. */
  if (browse->lpVtbl->Browse(browse, (LPWSTR)device, &point, 0, OPC_BROWSE_FILTER_ALL, (LPWSTR)u"M*", NULL, TRUE,
                             FALSE, 0, NULL, &more, &count, &elements) != S_OK)
    return 17;
  for (i = 0; i < count; ++i)
    if (elements[i].szName[0] != u'M' || elements[i].ItemProperties.dwNumProperties == 0) return 18;
  free_elements(elements, count);
  if (count == 0) return 19;

  /* Two properties of the first item, with their values. */
  if (browse->lpVtbl->GetProperties(browse, 1, &first_id, TRUE, 2, wanted, &props) != S_OK) return 20;
  if (props[0].hrErrorID != S_OK || props[0].dwNumProperties != 2) return 21;
  if (props[0].pItemProperties[0].vValue.vt != VT_I2 || props[0].pItemProperties[1].vValue.vt != VT_BSTR ||
      !same_text(props[0].pItemProperties[1].vValue.bstrVal, first))
    return 22;
  free_properties(&props[0]);
  CoTaskMemFree(props);
  return 0;
}

int opc_c_browse_run(const OLECHAR* progid, const OLECHAR* device, char* ids, size_t size) {
  CLSID clsid;
  IOPCServer* server = NULL;
  IOPCBrowse* browse = NULL;
  int step = 0;

  if (size < 2) return 1;
  if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return 1;
  if (CLSIDFromProgID(progid, &clsid) != S_OK) step = 2;
  if (!step && CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IOPCServer, (void**)&server) != S_OK)
    step = 3;
  if (!step && server->lpVtbl->QueryInterface(server, &IID_IOPCBrowse, (void**)&browse) != S_OK) step = 4;
  if (!step) step = browse_steps(browse, device, ids, size);
  if (browse != NULL) browse->lpVtbl->Release(browse);
  if (server != NULL) server->lpVtbl->Release(server);
  CoUninitialize();
  return step;
}
