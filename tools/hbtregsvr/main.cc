// hbtregsvr: registers or unregisters an in-process COM server library the way regsvr32 does.
// It loads the library, calls its DllRegisterServer (or, with /u, DllUnregisterServer) inside an
// initialised COM apartment, and says what happened. /s keeps successes quiet; failures are
// still reported on standard error, because an installer's log needs them.
//
// Exit status (regsvr32's numbering): 0 every call succeeded, 1 bad usage, 2 COM could not be
// initialised, 3 a library could not be loaded, 4 it lacks the entry point, 5 the call failed.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "objbase.h"

namespace {

enum ExitStatus { kOk = 0, kUsage = 1, kComFailed = 2, kLoadFailed = 3, kNoEntryPoint = 4, kCallFailed = 5 };

struct Options {
  bool silent = false;
  bool unregister = false;
  std::vector<std::string> libraries;
};

void usage(std::FILE* out) {
  std::fputs(
      "Usage: hbtregsvr [/s] [/u] LIBRARY...\n"
      "Registers each in-process COM server library (calls its DllRegisterServer),\n"
      "or unregisters it with /u (DllUnregisterServer), as regsvr32 does.\n"
      "  /s, -s, --silent       print nothing when a call succeeds\n"
      "  /u, -u, --unregister   unregister instead of register\n"
      "  -h, --help             this text\n"
      "Exit status: 0 success, 1 bad usage, 2 COM could not start, 3 a library could not be\n"
      "loaded, 4 it has no such entry point, 5 the call reported a failure.\n",
      out);
}

bool is_option(const std::string& arg, const char* slash_form, const char* dash_form, const char* long_form) {
  auto lower = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  std::string a = lower(arg);
  return a == slash_form || a == dash_form || a == long_form;
}

// The names of the failures a registration call typically reports.
const char* result_name(HRESULT hr) {
  switch (hr) {
    case SELFREG_E_TYPELIB: return " (SELFREG_E_TYPELIB)";
    case SELFREG_E_CLASS: return " (SELFREG_E_CLASS)";
    case E_FAIL: return " (E_FAIL)";
    case E_OUTOFMEMORY: return " (E_OUTOFMEMORY)";
    case E_ACCESSDENIED: return " (E_ACCESSDENIED)";
    case E_UNEXPECTED: return " (E_UNEXPECTED)";
    case REGDB_E_WRITEREGDB: return " (REGDB_E_WRITEREGDB)";
    case CO_E_NOTINITIALIZED: return " (CO_E_NOTINITIALIZED)";
    default: return "";
  }
}

int process(const std::string& library, const Options& options) {
  const char* entry = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  // A bare file name means the file in the current directory, as regsvr32 finds it first;
  // dlopen would otherwise look only along the library search path.
  std::string path = library;
  struct stat info {};
  if (path.find('/') == std::string::npos && ::stat(path.c_str(), &info) == 0) path = "./" + path;
  if (path.find('/') != std::string::npos && ::stat(path.c_str(), &info) != 0) {
    std::fprintf(stderr, "hbtregsvr: %s: no such file\n", library.c_str());
    return kLoadFailed;
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    std::fprintf(stderr, "hbtregsvr: %s: cannot be loaded: %s\n", library.c_str(), why ? why : "unknown reason");
    return kLoadFailed;
  }
  auto call = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, entry));
  if (call == nullptr) {
    std::fprintf(stderr, "hbtregsvr: %s was loaded but has no %s entry point; it is not an in-process COM server\n",
                 library.c_str(), entry);
    ::dlclose(handle);
    return kNoEntryPoint;
  }
  HRESULT hr = call();
  ::dlclose(handle);
  if (FAILED(hr)) {
    std::fprintf(stderr, "hbtregsvr: %s in %s failed with error 0x%08X%s\n", entry, library.c_str(),
                 static_cast<unsigned>(hr), result_name(hr));
    return kCallFailed;
  }
  if (!options.silent) std::printf("%s in %s succeeded.\n", entry, library.c_str());
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (is_option(arg, "/s", "-s", "--silent")) {
      options.silent = true;
    } else if (is_option(arg, "/u", "-u", "--unregister")) {
      options.unregister = true;
    } else if (is_option(arg, "/?", "-h", "--help")) {
      usage(stdout);
      return kOk;
    } else if (arg == "--") {
      for (++i; i < argc; ++i) options.libraries.push_back(argv[i]);
    } else if (arg.size() > 1 && (arg[0] == '-' || (arg[0] == '/' && arg.size() == 2))) {
      std::fprintf(stderr, "hbtregsvr: unknown option %s\n", arg.c_str());
      usage(stderr);
      return kUsage;
    } else {
      options.libraries.push_back(arg);
    }
  }
  if (options.libraries.empty()) {
    std::fputs("hbtregsvr: name a library to register\n", stderr);
    usage(stderr);
    return kUsage;
  }
  // The driver's libraries attach the image when they are loaded, which starts the poller
  // when no driver runs; a library loaded only to be registered must leave the driver alone.
  setenv("HBT_REGISTRATION_ONLY", "1", 1);
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) {
    std::fprintf(stderr, "hbtregsvr: COM could not be initialised (0x%08X)\n", static_cast<unsigned>(hr));
    return kComFailed;
  }
  int status = kOk;
  for (const std::string& library : options.libraries) {
    int one = process(library, options);
    if (status == kOk) status = one;
  }
  CoUninitialize();
  return status;
}
