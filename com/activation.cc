// Class activation from the registry: HKCR\CLSID\{clsid}\InprocServer32 names a library,
// which is loaded once per process and asked for its class object; CoFreeUnusedLibraries
// unloads a library only when its DllCanUnloadNow agrees and no activation is under way in it.
// A free-threaded library (ThreadingModel "Free", "Both" or "Neutral") first waits out an
// unload delay as a candidate, because a thread may still be returning from its last Release.
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "com/apartment.h"
#include "com/bstr.h"
#include "com/builtin_classes.h"
#include "com/guid_text.h"
#include "com/task_memory.h"
#include "platform/registry.h"

namespace hbt::com {
namespace {

namespace registry = hbt::platform::registry;

struct LoadedLibrary {
  void* handle = nullptr;
  LPFNGETCLASSOBJECT get_class_object = nullptr;
  LPFNCANUNLOADNOW can_unload_now = nullptr;  // a library without it stays loaded
  int activations = 0;                        // calls into DllGetClassObject under way
  bool free_threaded = false;                 // unloads after the delay, not at once
  bool candidate = false;                     // said it can unload, waiting out the delay
  std::chrono::steady_clock::time_point candidate_since;
};

constexpr DWORD kDefaultUnloadDelayMs = 10 * 60 * 1000;

bool is_free_threaded(const std::optional<std::string>& model) {
  if (!model) return false;
  std::string m;
  for (char c : *model) m += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return m == "free" || m == "both" || m == "neutral";
}

// Recursive: a library's constructors may activate classes of their own while it loads.
std::recursive_mutex& libraries_mutex() {
  static std::recursive_mutex mutex;
  return mutex;
}
std::map<std::string, LoadedLibrary>& libraries() {
  static std::map<std::string, LoadedLibrary> table;
  return table;
}

thread_local std::string last_load_error;

HRESULT load_failure(const std::string& path, const char* loader_text) {
  last_load_error = loader_text != nullptr ? loader_text : path + ": cannot be loaded";
  bool missing = path.find('/') != std::string::npos ? ::access(path.c_str(), F_OK) != 0
                                                      : last_load_error.find("No such file") != std::string::npos;
  return missing ? HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) : CO_E_ERRORINDLL;
}

// The library's entry, loading it on first use, with one more activation counted on it.
HRESULT acquire_library(const std::string& path, bool free_threaded, LoadedLibrary** out) {
  std::lock_guard lock(libraries_mutex());
  auto found = libraries().find(path);
  if (found == libraries().end()) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return load_failure(path, ::dlerror());
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
    if (get == nullptr) {
      ::dlclose(handle);
      last_load_error = path + ": the library has no DllGetClassObject";
      return CO_E_ERRORINDLL;
    }
    LoadedLibrary entry;
    entry.handle = handle;
    entry.get_class_object = get;
    entry.can_unload_now = reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(handle, "DllCanUnloadNow"));
    entry.free_threaded = free_threaded;
    found = libraries().emplace(path, entry).first;
  }
  ++found->second.activations;
  found->second.candidate = false;  // in use again
  *out = &found->second;
  return S_OK;
}

void release_library(LoadedLibrary* library) {
  std::lock_guard lock(libraries_mutex());
  --library->activations;
}

std::string utf8(LPCOLESTR text) { return utf8_from_utf16(std::u16string_view(text)); }

LPOLESTR task_string(const std::string& text) {
  std::u16string wide = utf16_from_utf8(text);
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (out == nullptr) return nullptr;
  std::copy(wide.begin(), wide.end(), out);
  out[wide.size()] = u'\0';
  return out;
}

}  // namespace

HRESULT builtin_class_object(REFCLSID clsid, REFIID riid, void** object) {
  if (clsid == CLSID_StdComponentCategoriesMgr) return component_categories_class_object(riid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace hbt::com

using namespace hbt::com;

extern "C" HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  last_load_error.clear();
  if (!apartment_initialised()) return CO_E_NOTINITIALIZED;
  // Only in-process servers exist here; a class asked for in another context is not registered.
  if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) return REGDB_E_CLASSNOTREG;
  try {
    HRESULT builtin = builtin_class_object(clsid, riid, object);
    if (builtin != CLASS_E_CLASSNOTAVAILABLE) return builtin;

    const std::string server_key = "CLSID\\" + guid_text(clsid) + "\\InprocServer32";
    std::optional<std::string> path = registry::get_string(registry::Hive::ClassesRoot, server_key, "");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
    bool free_threaded =
        is_free_threaded(registry::get_string(registry::Hive::ClassesRoot, server_key, "ThreadingModel"));
    LoadedLibrary* library = nullptr;
    HRESULT hr = acquire_library(*path, free_threaded, &library);
    if (FAILED(hr)) return hr;
    hr = library->get_class_object(clsid, riid, object);
    release_library(library);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (factory == nullptr) return E_UNEXPECTED;
  hr = factory->CreateInstance(outer, riid, object);
  factory->Release();
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

extern "C" void CoFreeUnusedLibrariesEx(DWORD delay_ms, DWORD) {
  if (delay_ms == INFINITE) delay_ms = kDefaultUnloadDelayMs;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(libraries_mutex());
  for (auto it = libraries().begin(); it != libraries().end();) {
    LoadedLibrary& library = it->second;
    bool unused = library.activations == 0 && library.can_unload_now != nullptr && library.can_unload_now() == S_OK;
    if (!unused) {
      library.candidate = false;
      ++it;
      continue;
    }
    if (!library.candidate) {
      library.candidate = true;
      library.candidate_since = now;
    }
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - library.candidate_since).count();
    if (!library.free_threaded || waited >= static_cast<long long>(delay_ms)) {
      ::dlclose(library.handle);
      it = libraries().erase(it);
    } else {
      ++it;
    }
  }
}

extern "C" void CoFreeUnusedLibraries() { CoFreeUnusedLibrariesEx(INFINITE, 0); }

extern "C" const char* HbtComLastLoadError() { return last_load_error.c_str(); }

extern "C" HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid) {
  if (progid == nullptr || clsid == nullptr) return E_INVALIDARG;
  try {
    std::string name = utf8(progid);
    // A ProgID is one key name; a separator would let it reach into other keys.
    if (name.empty() || name.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
    // A version-independent ProgID without its own CLSID leads through CurVer.
    for (int hop = 0; hop < 4; ++hop) {
      std::optional<std::string> text = registry::get_string(registry::Hive::ClassesRoot, name + "\\CLSID", "");
      if (text) {
        std::optional<GUID> g = parse_guid(std::string_view(*text));
        if (!g) return CO_E_CLASSSTRING;
        *clsid = *g;
        return S_OK;
      }
      std::optional<std::string> current = registry::get_string(registry::Hive::ClassesRoot, name + "\\CurVer", "");
      if (!current || current->empty() || current->find('\\') != std::string::npos) break;
      name = *current;
    }
    return CO_E_CLASSSTRING;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid) {
  if (progid == nullptr) return E_INVALIDARG;
  *progid = nullptr;
  try {
    std::optional<std::string> text =
        registry::get_string(registry::Hive::ClassesRoot, "CLSID\\" + guid_text(clsid) + "\\ProgID", "");
    if (!text || text->empty()) return REGDB_E_CLASSNOTREG;
    *progid = task_string(*text);
    return *progid != nullptr ? S_OK : E_OUTOFMEMORY;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *clsid = CLSID_NULL;
    return S_OK;
  }
  if (text[0] == u'{') {
    std::optional<GUID> g = parse_guid(std::u16string_view(text));
    if (!g) return CO_E_CLASSSTRING;
    *clsid = *g;
    return S_OK;
  }
  HRESULT hr = CLSIDFromProgID(text, clsid);
  return hr == E_OUTOFMEMORY ? hr : FAILED(hr) ? CO_E_CLASSSTRING : hr;
}
