/* Compiled as C: proves the public OPC headers are plain C, and reports the layouts a C
 * client sees so that the C++ side can be checked against them. */
#include <stddef.h>

#include "opcda.h"

size_t opc_c_layout(int which) {
  switch (which) {
    case 0: return sizeof(OPCITEMDEF);
    case 1: return sizeof(OPCITEMRESULT);
    case 2: return sizeof(OPCITEMATTRIBUTES);
    case 3: return sizeof(OPCSERVERSTATUS);
    case 4: return sizeof(OPCITEMSTATE);
    case 5: return sizeof(OPCITEMVQT);
    case 6: return offsetof(OPCSERVERSTATUS, szVendorInfo);
    case 7: return offsetof(OPCITEMATTRIBUTES, vEUInfo);
    case 8: return sizeof(IOPCServerVtbl) / sizeof(void*);
    case 9: return sizeof(IOPCItemMgtVtbl) / sizeof(void*);
    case 10: return sizeof(IOPCGroupStateMgt2Vtbl) / sizeof(void*);
    case 11: return sizeof(IOPCAsyncIO3Vtbl) / sizeof(void*);
    case 12: return sizeof(VARIANT);
    case 13: return offsetof(OPCITEMPROPERTY, vValue);
    case 14: return sizeof(IOPCServerListVtbl) / sizeof(void*);
    case 18: return sizeof(IOPCBrowseVtbl) / sizeof(void*);
    case 19: return sizeof(OPCBROWSEELEMENT);
    case 20: return offsetof(OPCBROWSEELEMENT, ItemProperties);
    case 21: return sizeof(OPCITEMPROPERTIES);
    case 15: return sizeof(IOPCServerList2Vtbl) / sizeof(void*);
    case 16: return sizeof(IOPCEnumGUIDVtbl) / sizeof(void*);
    /* The names a client of the published headers uses for the categories. */
    case 17: return IsEqualGUID(&IID_CATID_OPCDAServer10, &CATID_OPCDAServer10) &&
                    IsEqualGUID(&IID_CATID_OPCDAServer20, &CATID_OPCDAServer20) &&
                    IsEqualGUID(&IID_CATID_OPCDAServer30, &CATID_OPCDAServer30);
    default: return 0;
  }
}
