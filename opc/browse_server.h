// CImpIOPCBrowseServer: the server's address space as a two-level tree, devices at the root
// and the range texts of their poll records as leaves. One per server object, so the browse
// position is shared by every user of that server.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "opc/server.h"
#include "opc/tear_off.h"

namespace hbt::opc {

class CImpIOPCBrowseServer final : public TearOff<IOPCBrowseServerAddressSpace, COPCDrvServer> {
 public:
  using TearOff::TearOff;

  HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                           DWORD dwAccessRightsFilter, LPENUMSTRING* ppIEnumString) override;
  HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
  HRESULT BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override;

 private:
  HRESULT hand_out(std::vector<std::u16string> names, LPENUMSTRING* out);

  // Browsing from several threads of the client must not tear the position.
  std::mutex mutex_;
  std::int32_t level_ = 0;  // 0 at the root, 1 inside device_
  std::string device_;
};

}  // namespace hbt::opc
