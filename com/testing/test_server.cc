// The test server library: a class factory and one class, and reference counts that decide
// DllCanUnloadNow. HBT_TEST_SERVER_LOG names a file that receives a line for each event the
// tests look for: "load" and "unload" as the library comes and goes, "register" and
// "unregister" for the self-registration calls; HBT_TEST_SERVER_FAIL makes those calls fail.
// It links nothing but the runtime, so that nothing keeps it from being unloaded.
#include "com/testing/test_server.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace {

std::atomic<long> live_objects{0};
std::atomic<long> server_locks{0};
int instance_marker;

void log_line(const char* text) {
  const char* path = std::getenv("HBT_TEST_SERVER_LOG");
  if (path == nullptr || *path == '\0') return;
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", text);
    std::fclose(f);
  }
}

__attribute__((constructor)) void on_load() { log_line("load"); }
__attribute__((destructor)) void on_unload() { log_line("unload"); }

LPOLESTR task_copy(const char16_t* text) {
  std::u16string_view view(text);
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((view.size() + 1) * sizeof(OLECHAR)));
  if (out == nullptr) return nullptr;
  view.copy(out, view.size());
  out[view.size()] = u'\0';
  return out;
}

class TestObject final : public ITestServer {
 public:
  TestObject() { ++live_objects; }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITestServer) {
      *object = static_cast<ITestServer*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT Add(LONG a, LONG b, LONG* sum) override {
    if (sum == nullptr) return E_POINTER;
    *sum = a + b;
    return S_OK;
  }
  HRESULT Describe(BSTR* text) override {
    if (text == nullptr) return E_POINTER;
    *text = SysAllocString(u"test server");
    return *text != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Names(ULONG* count, LPOLESTR** names) override {
    if (count == nullptr || names == nullptr) return E_POINTER;
    static const char16_t* const kNames[] = {u"alpha", u"beta", u"gamma"};
    auto* list = static_cast<LPOLESTR*>(CoTaskMemAlloc(sizeof kNames));
    if (list == nullptr) return E_OUTOFMEMORY;
    for (int i = 0; i < 3; ++i) list[i] = task_copy(kNames[i]);
    *count = 3;
    *names = list;
    return S_OK;
  }
  const void* Instance() override { return &instance_marker; }

 private:
  ~TestObject() { --live_objects; }
  std::atomic<ULONG> references_{0};
};

class TestFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // A factory handed out counts as a lock, so the library stays while a client holds one.
  ULONG AddRef() override {
    ++server_locks;
    return 2;
  }
  ULONG Release() override {
    --server_locks;
    return 1;
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* created = new (std::nothrow) TestObject;
    if (created == nullptr) return E_OUTOFMEMORY;
    created->AddRef();
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
  }
  HRESULT LockServer(BOOL lock) override {
    server_locks += lock ? 1 : -1;
    return S_OK;
  }
};

TestFactory factory;

bool told_to_fail() { return std::getenv("HBT_TEST_SERVER_FAIL") != nullptr; }

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_TestServer) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, object);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return live_objects == 0 && server_locks == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  if (told_to_fail()) return SELFREG_E_CLASS;
  log_line("register");
  return S_OK;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  if (told_to_fail()) return SELFREG_E_CLASS;
  log_line("unregister");
  return S_OK;
}
