// CImpIPersistFile (also IPersist): the server keeps no file of its own; the driver's
// configuration file is the poller's. Load only judges the name a client offers.
#pragma once

#include <string_view>

#include "opc/server.h"
#include "opc/tear_off.h"

namespace hbt::opc {

class CImpIPersistFile final : public TearOff<IPersistFile, COPCDrvServer> {
 public:
  using TearOff::TearOff;

  HRESULT GetClassID(CLSID* clsid) override;
  HRESULT IsDirty() override { return S_OK; }
  HRESULT Load(LPCOLESTR file_name, DWORD mode) override;
  HRESULT Save(LPCOLESTR, BOOL) override { return S_OK; }
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR* file_name) override;
};

// Whether a file name may be a configuration file of this driver: without a full stop, or
// with exactly "HBT" after the first one.
bool configuration_file_name(std::string_view name);

}  // namespace hbt::opc
