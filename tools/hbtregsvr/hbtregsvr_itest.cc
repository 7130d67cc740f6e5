// hbtregsvr as an installer runs it: the entry point called, /s and /u, and a clear message
// and exit status for every way a library can fail to register.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/registry.h"
#include "testsupport/child_process.h"
#include "testsupport/test_environment.h"

namespace hbt {
namespace {

struct Outcome {
  int status;
  std::string output;
};

class Hbtregsvr : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("HBT_TEST_SERVER_LOG", env.path("server.log").c_str(), 1); }
  void TearDown() override {
    ::unsetenv("HBT_TEST_SERVER_LOG");
    ::unsetenv("HBT_TEST_SERVER_FAIL");
  }
  Outcome run(std::vector<std::string> args) {
    args.insert(args.begin(), HBT_BIN_DIR "/hbtregsvr");
    testsupport::ChildProcess child(args, false, env.dir());
    std::optional<int> status = child.wait_exit(20000);
    return {status.value_or(-1000), child.output()};
  }
  std::string log() { return testsupport::read_file(env.path("server.log")); }

  testsupport::TestEnvironment env;
};

TEST_F(Hbtregsvr, RegistersAndUnregisters) {
  Outcome r = run({HBT_TEST_SERVER});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("DllRegisterServer in " HBT_TEST_SERVER " succeeded."), std::string::npos) << r.output;
  r = run({"/u", HBT_TEST_SERVER});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("DllUnregisterServer"), std::string::npos) << r.output;
  r = run({"/S", "-u", HBT_TEST_SERVER});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "") << "silent";
  EXPECT_EQ(log(), "load\nregister\nunload\nload\nunregister\nunload\nload\nunregister\nunload\n");
}

TEST_F(Hbtregsvr, ALibraryInTheCurrentDirectoryIsFoundByItsName) {
  ASSERT_EQ(std::system(("cp '" HBT_TEST_SERVER "' '" + env.path("copy.so") + "'").c_str()), 0);
  Outcome r = run({"/s", "copy.so"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(log(), "load\nregister\nunload\n");
}

TEST_F(Hbtregsvr, EachFailureHasItsStatusAndMessage) {
  Outcome r = run({env.path("missing.so")});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.output.find("missing.so: no such file"), std::string::npos) << r.output;

  ASSERT_TRUE(testsupport::write_file(env.path("text.so"), "not a library\n"));
  r = run({"/s", env.path("text.so")});
  EXPECT_EQ(r.status, 3) << "silent still fails";
  EXPECT_NE(r.output.find("cannot be loaded"), std::string::npos) << r.output;

  r = run({HBT_PLAIN_LIBRARY});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.output.find("has no DllRegisterServer entry point"), std::string::npos) << r.output;
  r = run({"/u", HBT_PLAIN_LIBRARY});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.output.find("DllUnregisterServer"), std::string::npos) << r.output;

  ::setenv("HBT_TEST_SERVER_FAIL", "1", 1);
  r = run({HBT_TEST_SERVER});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.output.find("failed with error 0x80040201 (SELFREG_E_CLASS)"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("succeeded"), std::string::npos);
}

// The OPC server links the host library, which attaches the image when it is loaded and starts
// "DriverExe" when no driver runs: registering must not do that.
TEST_F(Hbtregsvr, RegisteringTheOpcServerLeavesTheDriverAlone) {
  namespace registry = platform::registry;
  const std::string marker = env.path("poller-started");
  const std::string poller = env.path("poller.sh");
  ASSERT_TRUE(testsupport::write_file(poller, "#!/bin/sh\necho started >> '" + marker + "'\n"));
  ASSERT_EQ(::chmod(poller.c_str(), 0755), 0);
  ASSERT_TRUE(registry::set_string(registry::Hive::LocalMachine, "Software\\Velmora\\Brenlow\\Config", "DriverExe",
                                   poller));
  // The stand-in poller does record a start.
  ASSERT_EQ(testsupport::run_program({poller}).exit_code, 0);
  ASSERT_EQ(testsupport::read_file(marker), "started\n");
  ASSERT_EQ(::unlink(marker.c_str()), 0);

  for (bool unregister : {false, true}) {
    std::vector<std::string> args = {"/s", HBT_OPC_SERVER};
    if (unregister) args.insert(args.begin(), "/u");
    Outcome r = run(args);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(registry::key_exists(registry::Hive::ClassesRoot, "Velmora.Brenlow"), !unregister);
    // A load that starts the poller waits 2 s after starting it, so a start would be on record.
    EXPECT_FALSE(testsupport::eventually([&] { return ::access(marker.c_str(), F_OK) == 0; }, 500))
        << (unregister ? "unregistering" : "registering") << " started the poller";
  }
}

TEST_F(Hbtregsvr, UsageErrors) {
  Outcome r = run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Usage: hbtregsvr"), std::string::npos);
  r = run({"/x", HBT_TEST_SERVER});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("unknown option /x"), std::string::npos);
  r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(log(), "") << "nothing was loaded";
}

}  // namespace
}  // namespace hbt
