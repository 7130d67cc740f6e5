// HBTSTSR.so and its host share one COM runtime (libhbtcom.so): a BSTR that nio_readEx
// allocates inside the library is freed by the host, and under the address sanitizer a
// mismatch of allocators or a double free would stop the test.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "com/include/objbase.h"
#include "hostlib/nio_exports.h"
#include "hostlib/test_plant.h"

namespace hbt::hostlib::testing {
namespace {

TEST(SharedRuntime, ATextReadInsideTheLibraryIsFreedByTheHost) {
  testsupport::TestEnvironment env;
  testsupport::RecordingSink driver_messages;
  testsupport::install_configuration(env, standard_plant());
  image::Niolib driver(image::NiolibOptions{image::NiolibVariant::kDriver}, driver_messages);
  ASSERT_TRUE(driver.init_dit());
  for (int k = 0; k < driver.poll_record_count(); ++k) driver.nio_map_dit(k)->status = 0;
  void* handle = ::dlopen(HBT_LIB_DIR "/HBTSTSR.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << ::dlerror();

  // The library's string functions are the host's own: one copy of the runtime per process.
  void* library_alloc = ::dlsym(handle, "SysAllocString");
  EXPECT_EQ(library_alloc, reinterpret_cast<void*>(&::SysAllocString));
  Dl_info where{};
  ASSERT_NE(::dladdr(library_alloc, &where), 0);
  EXPECT_NE(std::string(where.dli_fname).find("libhbtcom.so"), std::string::npos) << where.dli_fname;

  auto paddr = reinterpret_cast<decltype(::nio_paddr)*>(::dlsym(handle, "nio_paddr"));
  auto read_ex = reinterpret_cast<decltype(::nio_readEx)*>(::dlsym(handle, "nio_readEx"));
  ASSERT_NE(paddr, nullptr);
  ASSERT_NE(read_ex, nullptr);
  Point text;
  text.format.kind = 3;
  NioStatus status = -1;
  ASSERT_EQ(paddr(&status, &text.block, &text.format, "PLC1:D:200"), 0);
  std::memcpy(driver.nio_find_data(1, 1), "PUMP 7", 6);
  for (int round = 0; round < 100; ++round) {
    VARIANT value;
    VariantInit(&value);
    std::uint16_t quality = 0;
    FILETIME stamp{};
    ASSERT_EQ(read_ex(&status, &text.block, &text.format, &stamp, &quality, 20, &value), 0);
    ASSERT_EQ(value.vt, VT_BSTR);
    EXPECT_EQ(std::u16string_view(value.bstrVal, SysStringLen(value.bstrVal)), u"PUMP 7");
    EXPECT_EQ(VariantClear(&value), S_OK);
  }
  ::dlclose(handle);
}

}  // namespace
}  // namespace hbt::hostlib::testing
