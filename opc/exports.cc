// The exports of HBTOPC.so: the entry points the COM layer and regsvr-style tools call. No
// exception leaves the library.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "hostlib/nio_exports.h"
#include "opc/com_base.h"
#include "opc/library.h"
#include "opc/registration.h"
#include "opc/server_factory.h"

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

hbt::opc::HostApi host_exports() {
  hbt::opc::HostApi api;
  api.paddr = nio_paddr;
  api.psig = nio_psig;
  api.popt = nio_popt;
  api.readEx = nio_readEx;
  api.sendEx = nio_sendEx;
  api.sendVQT = nio_sendVQT;
  api.get_ServerStatus = nio_get_ServerStatus;
  api.SendMsg = nio_SendMsg;
  api.CleanUp = nio_CleanUp;
  api.find_dev = nio_find_dev;
  api.Enum_Devices = nio_Enum_Devices;
  api.Enum_PollRecs = nio_Enum_PollRecs;
  api.num_pollblocks = nio_num_pollblocks;
  api.Free = nio_Free;
  api.daddr = nio_daddr;
  api.dsig = nio_dsig;
  api.dopt = nio_dopt;
  return api;
}

__attribute__((constructor)) void process_attach() {
  try {
    hbt::opc::library_attach(host_exports());
  } catch (...) {
  }
}

__attribute__((destructor)) void process_detach() { hbt::opc::library_detach(); }

}  // namespace

OPC_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  try {
    return hbt::opc::get_class_object(rclsid, riid, ppv);
  } catch (...) {
    return E_UNEXPECTED;
  }
}

OPC_EXPORT HRESULT DllCanUnloadNow() { return hbt::opc::can_unload_now(); }

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
