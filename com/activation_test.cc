// Activation through the registry with the tests' own server library: by CLSID and ProgID,
// the failures of classes and libraries that cannot serve, unloading only when the library
// agrees, and many threads activating at once.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "com/bstr.h"
#include "com/guid_text.h"
#include "com/testing/c_client.h"
#include "com/testing/test_server.h"
#include "platform/registry.h"
#include "testsupport/test_environment.h"

namespace hbt::com {
namespace {

namespace registry = platform::registry;
constexpr auto kRoot = registry::Hive::ClassesRoot;

// {3B5E8C20-74A2-4D1B-9E3F-0C6A1D2E4B57}: a class whose library is given per test.
DEFINE_GUID(CLSID_Other, 0x3B5E8C20, 0x74A2, 0x4D1B, 0x9E, 0x3F, 0x0C, 0x6A, 0x1D, 0x2E, 0x4B, 0x57);

bool test_server_loaded() {
  void* handle = ::dlopen(HBT_TEST_SERVER, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  ::dlclose(handle);
  return true;
}

void register_class(const GUID& clsid, const std::string& library) {
  ASSERT_TRUE(registry::set_string(kRoot, "CLSID\\" + guid_text(clsid) + "\\InprocServer32", "", library));
}

class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("HBT_TEST_SERVER_LOG", env.path("server.log").c_str(), 1);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    const std::string clsid = guid_text(CLSID_TestServer);
    register_class(CLSID_TestServer, HBT_TEST_SERVER);
    ASSERT_TRUE(registry::set_string(kRoot, "CLSID\\" + clsid + "\\ProgID", "", TEST_SERVER_PROGID));
    ASSERT_TRUE(registry::set_string(kRoot, TEST_SERVER_PROGID "\\CLSID", "", clsid));
    ASSERT_TRUE(registry::set_string(kRoot, TEST_SERVER_VERSION_INDEPENDENT_PROGID "\\CurVer", "", TEST_SERVER_PROGID));
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    EXPECT_FALSE(test_server_loaded()) << "every object of the test was released";
    CoUninitialize();
    ::unsetenv("HBT_TEST_SERVER_LOG");
  }

  std::string server_log() { return testsupport::read_file(env.path("server.log")); }

  ITestServer* create() {
    ITestServer* server = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_ITestServer,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    return server;
  }

  testsupport::TestEnvironment env;
};

TEST_F(Activation, CreatesByClsidAndCallsAcrossTheLibraryBoundary) {
  ITestServer* server = create();
  ASSERT_NE(server, nullptr);
  LONG sum = 0;
  EXPECT_EQ(server->Add(2, 3, &sum), S_OK);
  EXPECT_EQ(sum, 5);
  BSTR text = nullptr;
  ASSERT_EQ(server->Describe(&text), S_OK);
  EXPECT_EQ(bstr_view(text), u"test server");
  SysFreeString(text);  // allocated in the server, freed here: one allocator
  ULONG count = 0;
  LPOLESTR* names = nullptr;
  ASSERT_EQ(server->Names(&count, &names), S_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(std::u16string_view(names[1]), u"beta");
  for (ULONG i = 0; i < count; ++i) CoTaskMemFree(names[i]);
  CoTaskMemFree(names);
  IUnknown* other = nullptr;
  EXPECT_EQ(server->QueryInterface(IID_IStream, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  server->Release();
  EXPECT_EQ(server_log(), "load\n");
}

TEST_F(Activation, ProgIdsLeadToTheClassAndBack) {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"" TEST_SERVER_PROGID, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestServer);
  clsid = {};
  EXPECT_EQ(CLSIDFromProgID(u"hbttest.SERVER", &clsid), S_OK) << "through CurVer, in any letter case";
  EXPECT_EQ(clsid, CLSID_TestServer);
  clsid = {};
  EXPECT_EQ(CLSIDFromString(u"" TEST_SERVER_PROGID, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestServer);
  LPOLESTR progid = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_TestServer, &progid), S_OK);
  EXPECT_EQ(std::u16string_view(progid), u"" TEST_SERVER_PROGID);
  CoTaskMemFree(progid);

  EXPECT_EQ(CLSIDFromProgID(u"HbtTest.Nothing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"CLSID\\{3B5E8C10-74A2-4D1B-9E3F-0C6A1D2E4B57}", &clsid), CO_E_CLASSSTRING)
      << "a ProgID never reaches into other keys";
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromProgID(u"" TEST_SERVER_PROGID, nullptr), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromString(u"HbtTest.Nothing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(ProgIDFromCLSID(CLSID_Other, &progid), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progid, nullptr);
  EXPECT_EQ(ProgIDFromCLSID(CLSID_TestServer, nullptr), E_INVALIDARG);

  ASSERT_TRUE(registry::set_string(kRoot, "Broken.Class\\CLSID", "", "not a guid"));
  EXPECT_EQ(CLSIDFromProgID(u"Broken.Class", &clsid), CO_E_CLASSSTRING);
  ASSERT_TRUE(registry::set_string(kRoot, "Loop.A\\CurVer", "", "Loop.B"));
  ASSERT_TRUE(registry::set_string(kRoot, "Loop.B\\CurVer", "", "Loop.A"));
  EXPECT_EQ(CLSIDFromProgID(u"Loop.A", &clsid), CO_E_CLASSSTRING) << "a CurVer loop ends";
}

TEST_F(Activation, ClassesThatAreNotRegisteredForThisContextAreClassNotReg) {
  IUnknown* object = reinterpret_cast<IUnknown*>(this);
  EXPECT_EQ(CoCreateInstance(CLSID_Other, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG)
      << "only in-process servers exist";
  ASSERT_TRUE(registry::set_string(kRoot, "CLSID\\" + guid_text(CLSID_Other) + "\\InprocServer32", "", ""));
  EXPECT_EQ(CoCreateInstance(CLSID_Other, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG)
      << "a class key without a library";
  EXPECT_EQ(CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(CoGetClassObject(CLSID_TestServer, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(server_log(), "");
}

TEST_F(Activation, LibrariesThatCannotServeFailWithTheirReason) {
  IUnknown* object = nullptr;
  auto activate = [&] {
    return CoCreateInstance(CLSID_Other, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
  };
  register_class(CLSID_Other, env.path("missing.so"));
  EXPECT_EQ(activate(), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_NE(std::string(HbtComLastLoadError()).find("missing.so"), std::string::npos) << HbtComLastLoadError();

  ASSERT_TRUE(testsupport::write_file(env.path("text.so"), "not a library\n"));
  register_class(CLSID_Other, env.path("text.so"));
  EXPECT_EQ(activate(), CO_E_ERRORINDLL);
  EXPECT_NE(std::string(HbtComLastLoadError()), "");

  register_class(CLSID_Other, HBT_PLAIN_LIBRARY);
  EXPECT_EQ(activate(), CO_E_ERRORINDLL);
  EXPECT_NE(std::string(HbtComLastLoadError()).find("DllGetClassObject"), std::string::npos);
  void* plain = ::dlopen(HBT_PLAIN_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(plain, nullptr) << "a library that cannot serve is not kept";
  if (plain != nullptr) ::dlclose(plain);

  register_class(CLSID_Other, HBT_TEST_SERVER);
  EXPECT_EQ(activate(), CLASS_E_CLASSNOTAVAILABLE) << "the library's own answer for a class it does not serve";
  EXPECT_EQ(object, nullptr);
  ITestServer* server = create();
  ASSERT_NE(server, nullptr);
  EXPECT_STREQ(HbtComLastLoadError(), "") << "a success clears the reason";
  server->Release();
}

TEST_F(Activation, NeedsAnInitialisedApartment) {
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();
  CoUninitialize();
  IUnknown* object = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            CO_E_NOTINITIALIZED);
  // A thread that never initialised works while another thread keeps the apartment.
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  HRESULT from_other_thread = E_FAIL;
  std::thread([&] {
    from_other_thread = CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(&object));
  }).join();
  EXPECT_EQ(from_other_thread, S_OK);
  if (object != nullptr) object->Release();
}

TEST_F(Activation, UnloadsOnlyWhenTheLibraryAgrees) {
  ITestServer* server = create();
  ASSERT_NE(server, nullptr);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(test_server_loaded()) << "an object is alive";

  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_TestServer, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  server->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(test_server_loaded()) << "the server is locked";

  ASSERT_EQ(CoGetClassObject(CLSID_TestServer, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(test_server_loaded());
  EXPECT_EQ(server_log(), "load\nunload\n");

  server = create();  // loads again after an unload
  ASSERT_NE(server, nullptr);
  server->Release();
  CoFreeUnusedLibraries();
  EXPECT_EQ(server_log(), "load\nunload\nload\nunload\n");
}

TEST_F(Activation, ThreadsActivatingAtOnceLoadTheLibraryOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 25;
  std::atomic<int> failures{0};
  std::vector<const void*> instances(kThreads, nullptr);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  // The objects of the first round stay alive to the end, so the library cannot go away.
  std::vector<ITestServer*> kept(kThreads, nullptr);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) {
        ITestServer* server = nullptr;
        if (CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_ITestServer,
                             reinterpret_cast<void**>(&server)) != S_OK) {
          ++failures;
          continue;
        }
        const void* instance = server->Instance();
        if (instances[t] != nullptr && instances[t] != instance) ++failures;
        instances[t] = instance;
        if (round == 0)
          kept[t] = server;
        else
          server->Release();
      }
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(instances[t], instances[0]);
  EXPECT_EQ(server_log(), "load\n");
  for (ITestServer* server : kept)
    if (server != nullptr) server->Release();
}

TEST_F(Activation, AFreeThreadedLibraryWaitsOutItsUnloadDelay) {
  ASSERT_TRUE(registry::set_string(kRoot, "CLSID\\" + guid_text(CLSID_TestServer) + "\\InprocServer32",
                                   "ThreadingModel", "Free"));
  ITestServer* server = create();
  ASSERT_NE(server, nullptr);
  server->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(test_server_loaded()) << "a candidate for the next ten minutes";
  CoFreeUnusedLibrariesEx(60'000, 0);
  EXPECT_TRUE(test_server_loaded());
  server = create();  // used again: no longer a candidate
  ASSERT_NE(server, nullptr);
  server->Release();
  CoFreeUnusedLibrariesEx(30, 0);
  EXPECT_TRUE(test_server_loaded()) << "the delay starts again";
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  CoFreeUnusedLibrariesEx(30, 0);
  EXPECT_FALSE(test_server_loaded());
  EXPECT_EQ(server_log(), "load\nunload\n");
}

TEST_F(Activation, UnloadingWhileOtherThreadsActivateKeepsOneCopyLoadedAtATime) {
  ASSERT_TRUE(registry::set_string(kRoot, "CLSID\\" + guid_text(CLSID_TestServer) + "\\InprocServer32",
                                   "ThreadingModel", "Free"));
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::thread unloader([&] {
    while (!stop.load()) {
      CoFreeUnusedLibrariesEx(20, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::vector<std::thread> users;
  for (int t = 0; t < 4; ++t) {
    users.emplace_back([&, t] {
      for (int round = 0; round < 40; ++round) {
        ITestServer* server = nullptr;
        LONG sum = 0;
        if (CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_ITestServer,
                             reinterpret_cast<void**>(&server)) != S_OK ||
            server->Add(round, t, &sum) != S_OK || sum != round + t)
          ++failures;
        if (server != nullptr) server->Release();
        // Pauses long enough for the library to be unloaded now and then.
        if (round % 10 == 9) std::this_thread::sleep_for(std::chrono::milliseconds(40));
      }
    });
  }
  for (auto& user : users) user.join();
  stop = true;
  unloader.join();
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_EQ(failures.load(), 0);
  // The library came and went, never two copies at once: the lines alternate.
  std::string log = server_log();
  std::string expected = "load\n";
  std::size_t at = 0;
  while (at < log.size()) {
    EXPECT_EQ(log.compare(at, expected.size(), expected), 0) << log;
    at += expected.size();
    expected = expected == "load\n" ? "unload\n" : "load\n";
  }
  EXPECT_EQ(expected, "load\n") << "ends unloaded: " << log;
}

TEST_F(Activation, AClientWrittenInC) {
  EXPECT_EQ(run_c_client(), 0) << "the number is the step that failed";
}

}  // namespace
}  // namespace hbt::com
