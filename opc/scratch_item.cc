#include "opc/scratch_item.h"

#include "opc/com_util.h"

namespace hbt::opc {

HRESULT bind_scratch(COPCDrvItem& item, LPCWSTR item_id, OPCHANDLE server_handle) {
  OPCITEMDEF def{};
  def.szAccessPath = nullptr;
  def.szItemID = item_id && wide_length(item_id, kScratchIdLimit) < kScratchIdLimit ? const_cast<LPWSTR>(item_id)
                                                                                     : nullptr;
  def.bActive = TRUE;
  def.hClient = 1;
  def.vtRequestedDataType = VT_EMPTY;
  OPCITEMRESULT result{};
  return item.bind(def, server_handle, &result);
}

}  // namespace hbt::opc
