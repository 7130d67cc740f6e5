// A library of the driver loaded as a host loads it (dlopen), over a driver image of the
// standard test plant that a driver-side NIOLIB of this process made, with every record
// reading good: where the tests of the libraries' exports start.
#pragma once

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "hostlib/test_plant.h"
#include "testsupport/driver_setup.h"

namespace hbt::hostlib::testing {

class LoadedLibraryOverImage : public ::testing::Test {
 protected:
  explicit LoadedLibraryOverImage(std::string path) : path_(std::move(path)) {}

  testsupport::TestEnvironment env;
  testsupport::RecordingSink driver_messages;
  std::unique_ptr<image::Niolib> driver;
  void* handle = nullptr;

  void SetUp() override {
    testsupport::install_configuration(env, standard_plant());
    driver = std::make_unique<image::Niolib>(image::NiolibOptions{image::NiolibVariant::kDriver}, driver_messages);
    ASSERT_TRUE(driver->init_dit());
    for (int k = 0; k < driver->poll_record_count(); ++k) driver->nio_map_dit(k)->status = 0;
    handle = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle) dlclose(handle);
  }
  // The export `name`, of function type F.
  template <typename F>
  F* get(const char* name) {
    return reinterpret_cast<F*>(dlsym(handle, name));
  }

 private:
  std::string path_;
};

}  // namespace hbt::hostlib::testing
