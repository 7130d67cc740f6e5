// HBTOPC.so loaded as the COM layer loads it, over a driver image of the standard test plant
// whose records all read good: what the tests of the library's exports and of plain C
// clients start from.
#pragma once

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <memory>

#include "hostlib/test_plant.h"
#include "opc/com_base.h"
#include "testsupport/driver_setup.h"

namespace hbt::opc::testing {

class LoadedServer : public ::testing::Test {
 protected:
  testsupport::TestEnvironment env;
  testsupport::RecordingSink driver_messages;
  std::unique_ptr<image::Niolib> driver;
  void* handle = nullptr;

  void SetUp() override {
    testsupport::install_configuration(env, hostlib::testing::standard_plant());
    driver = std::make_unique<image::Niolib>(image::NiolibOptions{image::NiolibVariant::kDriver}, driver_messages);
    ASSERT_TRUE(driver->init_dit());
    for (int k = 0; k < driver->poll_record_count(); ++k) driver->nio_map_dit(k)->status = 0;
    handle = dlopen(HBT_LIB_DIR "/HBTOPC.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle) dlclose(handle);
  }
  template <typename F>
  F get(const char* name) {
    return reinterpret_cast<F>(dlsym(handle, name));
  }
};

}  // namespace hbt::opc::testing
