// CImpIItemProperties: the properties of an item ID, read from a scratch item bound for the
// one call.
#pragma once

#include "opc/server.h"
#include "opc/tear_off.h"

namespace hbt::opc {

class CImpIItemProperties final : public TearOff<IOPCItemProperties, COPCDrvServer> {
 public:
  using TearOff::TearOff;

  HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                   VARTYPE** ppvtDataTypes) override;
  HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                            HRESULT** ppErrors) override;
  HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                        HRESULT** ppErrors) override;
};

}  // namespace hbt::opc
