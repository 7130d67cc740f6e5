// The OPC server registered in a private registry the way regsvr32 does it: the library
// loaded and its DllRegisterServer called. For the whole-process tests and figures.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <string>

namespace hbt::hbtopc {

// "" when registered, else what went wrong.
inline std::string register_server(const std::string& library) {
  void* lib = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return dlerror();
  auto reg = reinterpret_cast<std::int32_t (*)()>(dlsym(lib, "DllRegisterServer"));
  const std::string error = reg == nullptr ? "no DllRegisterServer" : reg() != 0 ? "DllRegisterServer failed" : "";
  dlclose(lib);
  return error;
}

}  // namespace hbt::hbtopc
