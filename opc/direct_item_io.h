// CImpIOPCItemIO: reads from the device and writes by item ID, without a group. Each ID is
// bound to a scratch item of its own for the one call.
#pragma once

#include "opc/server.h"
#include "opc/tear_off.h"

namespace hbt::opc {

class CImpIOPCItemIO final : public TearOff<IOPCItemIO, COPCDrvServer> {
 public:
  using TearOff::TearOff;

  HRESULT Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues, WORD** ppwQualities,
               FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
  HRESULT WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) override;
};

}  // namespace hbt::opc
