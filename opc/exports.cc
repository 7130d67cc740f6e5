// The exports of HBTOPC.so: the entry points the COM layer and regsvr-style tools call. No
// exception leaves the library.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "opc/com_base.h"
#include "opc/registration.h"

#define OPC_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The full path of this library, which InprocServer32 must name.
std::string module_path() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&module_path), &info) == 0 || info.dli_fname == nullptr) return {};
  char* full = realpath(info.dli_fname, nullptr);
  if (full == nullptr) return info.dli_fname;
  std::string path = full;
  std::free(full);
  return path;
}

}  // namespace

OPC_EXPORT HRESULT DllRegisterServer() {
  try {
    return hbt::opc::register_server(module_path());
  } catch (...) {
    return E_UNEXPECTED;
  }
}

OPC_EXPORT HRESULT DllUnregisterServer() {
  try {
    return hbt::opc::unregister_server();
  } catch (...) {
    return E_UNEXPECTED;
  }
}
