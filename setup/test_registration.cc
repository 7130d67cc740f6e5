// Test peers for the registration step: a server library whose DllRegisterServer records
// where and how it was registered, and a registration program that loads a library and calls
// it, as hbtregsvr /s does.
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>

#ifdef HBT_TEST_SERVER
#include "platform/registry.h"

extern "C" __attribute__((visibility("default"))) long DllRegisterServer() {
  char cwd[4096] = "";
  if (getcwd(cwd, sizeof cwd) == nullptr) return 1;
  namespace registry = hbt::platform::registry;
  return registry::set_string(registry::Hive::ClassesRoot, "CLSID\\{TEST}\\InprocServer32", "", cwd) ? 0 : 1;
}
#else
int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "/s") != 0) return 2;
  void* library = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return 3;
  auto registration = reinterpret_cast<long (*)()>(dlsym(library, "DllRegisterServer"));
  return registration != nullptr && registration() == 0 ? 0 : 4;
}
#endif
