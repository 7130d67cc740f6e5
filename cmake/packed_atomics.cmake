# Atomic loads and stores of packed image fields (which may lie on odd addresses): gcc inlines
# them, clang calls libatomic for them. HBT_PACKED_ATOMICS_LIBS names what the libraries doing
# such accesses must link.
include(CheckCXXSourceCompiles)
set(hbt_packed_atomic_probe [=[
#include <cstdint>
struct [[gnu::packed]] Entry { std::uint8_t lock; std::uint16_t count; };
#pragma GCC diagnostic ignored "-Waddress-of-packed-member"
int main(int argc, char**) {
  Entry e{};
  __atomic_store_n(&e.count, static_cast<std::uint16_t>(argc), __ATOMIC_RELAXED);
  return __atomic_load_n(&e.count, __ATOMIC_RELAXED);
}
]=])
check_cxx_source_compiles("${hbt_packed_atomic_probe}" HBT_PACKED_ATOMICS_INLINE)
set(HBT_PACKED_ATOMICS_LIBS "")
if(NOT HBT_PACKED_ATOMICS_INLINE)
  set(CMAKE_REQUIRED_LIBRARIES atomic)
  check_cxx_source_compiles("${hbt_packed_atomic_probe}" HBT_PACKED_ATOMICS_WITH_LIBATOMIC)
  unset(CMAKE_REQUIRED_LIBRARIES)
  if(NOT HBT_PACKED_ATOMICS_WITH_LIBATOMIC)
    message(FATAL_ERROR "atomic access to packed fields links neither inline nor with libatomic")
  endif()
  set(HBT_PACKED_ATOMICS_LIBS atomic)
endif()
