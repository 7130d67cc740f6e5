// CImpIOPCBrowse: the DA 3.0 browse interface over the same address space as
// IOPCBrowseServerAddressSpace (devices at the root, the poll-record ranges of a device below
// it, each range an item named by its first register) and the same property table as
// IOPCItemProperties. It keeps no browse position: every call names its branch, and a
// continuation point carries where the previous call stopped.
//
// Element name filter and vendor filter are Like patterns (see like_pattern.h); the first is
// matched against an element's name (a device name, a range text such as "D:100 - D:149"),
// the second against its item ID ("QPLC1", "QPLC1:D:100").
#pragma once

#include "opc/server.h"
#include "opc/tear_off.h"

namespace hbt::opc {

class CImpIOPCBrowse final : public TearOff<IOPCBrowse, COPCDrvServer> {
 public:
  using TearOff::TearOff;

  HRESULT GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                        DWORD* pdwPropertyIDs, OPCITEMPROPERTIES** ppItemProperties) override;
  HRESULT Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                 OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                 BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                 BOOL* pbMoreElements, DWORD* pdwCount, OPCBROWSEELEMENT** ppBrowseElements) override;
};

}  // namespace hbt::opc
