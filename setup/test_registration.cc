// Test peers for the registration step: a server library whose DllRegisterServer records
// where it was registered and, as an OPC server does, a component category it implements
// (DllUnregisterServer removes the class and leaves the shared category), and a registration
// program that loads a library and calls it, as hbtregsvr /s and /u /s do.
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>

#ifdef HBT_TEST_SERVER
#include "platform/registry.h"

namespace {
namespace registry = hbt::platform::registry;
constexpr auto kRoot = registry::Hive::ClassesRoot;
}  // namespace

extern "C" __attribute__((visibility("default"))) long DllRegisterServer() {
  char cwd[4096] = "";
  if (getcwd(cwd, sizeof cwd) == nullptr) return 1;
  bool ok = registry::set_string(kRoot, "CLSID\\{TEST}\\InprocServer32", "", cwd) &&
            registry::create_key(kRoot, "CLSID\\{TEST}\\Implemented Categories\\{TESTCAT}") &&
            registry::set_string(kRoot, "Component Categories\\{TESTCAT}", "409", "Test servers");
  return ok ? 0 : 1;
}

extern "C" __attribute__((visibility("default"))) long DllUnregisterServer() {
  return registry::delete_key(kRoot, "CLSID\\{TEST}") ? 0 : 1;
}
#else
int main(int argc, char** argv) {
  bool unregister = argc == 4 && std::strcmp(argv[1], "/u") == 0 && std::strcmp(argv[2], "/s") == 0;
  if (!unregister && (argc != 3 || std::strcmp(argv[1], "/s") != 0)) return 2;
  void* library = dlopen(argv[argc - 1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return 3;
  auto entry = reinterpret_cast<long (*)()>(dlsym(library, unregister ? "DllUnregisterServer" : "DllRegisterServer"));
  return entry != nullptr && entry() == 0 ? 0 : 4;
}
#endif
