#include "points/host_exports.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

namespace hbt::points {

bool HostExports::complete() const {
  return paddr && psig && popt && read && send && Enum_Devices && Enum_PollRecs && Free && find_dev &&
         get_ServerStatus && read_stats;
}

std::string default_host_library_path() {
  if (const char* path = std::getenv("HBT_HOSTLIB"); path && *path) return path;
  // Beside the object that holds this code: libhbtpoints.so in build/lib, or a program that
  // links the core directly from build/bin (whose libraries are in ../lib).
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&default_host_library_path), &info) != 0 && info.dli_fname) {
    std::string self = info.dli_fname;
    std::string folder = self.find('/') == std::string::npos ? "." : self.substr(0, self.rfind('/'));
    for (const char* relative : {"/HBTSTSR.so", "/../lib/HBTSTSR.so"}) {
      std::string candidate = folder + relative;
      if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
  }
  return "HBTSTSR.so";
}

namespace {

template <typename F>
bool bind(void* handle, F* target, const char* name, std::string* error) {
  *target = reinterpret_cast<F>(dlsym(handle, name));
  if (*target == nullptr && error->empty()) *error = std::string("the host library has no ") + name;
  return *target != nullptr;
}

}  // namespace

std::unique_ptr<LoadedHostLibrary> LoadedHostLibrary::load(const std::string& path, std::string* error) {
  std::unique_ptr<LoadedHostLibrary> lib(new LoadedHostLibrary);
  lib->path_ = path.empty() ? default_host_library_path() : path;
  lib->handle_ = dlopen(lib->path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib->handle_ == nullptr) {
    const char* why = dlerror();
    *error = why ? why : "cannot load " + lib->path_;
    return nullptr;
  }
  error->clear();
  HostExports& e = lib->exports_;
  void* h = lib->handle_;
  bind(h, &e.paddr, "nio_paddr", error);
  bind(h, &e.psig, "nio_psig", error);
  bind(h, &e.popt, "nio_popt", error);
  bind(h, &e.read, "nio_read", error);
  bind(h, &e.send, "nio_send", error);
  bind(h, &e.Enum_Devices, "nio_Enum_Devices", error);
  bind(h, &e.Enum_PollRecs, "nio_Enum_PollRecs", error);
  bind(h, &e.Free, "nio_Free", error);
  bind(h, &e.find_dev, "nio_find_dev", error);
  bind(h, &e.get_ServerStatus, "nio_get_ServerStatus", error);
  bind(h, &e.read_stats, "nio_read_stats", error);
  if (!error->empty()) {
    *error = lib->path_ + ": " + *error;
    return nullptr;
  }
  return lib;
}

LoadedHostLibrary::~LoadedHostLibrary() {
  if (handle_) dlclose(handle_);
}

}  // namespace hbt::points
