// The COM task allocator: memory handed across an interface belongs to whoever receives it
// and is given back with CoTaskMemFree.
#pragma once

#include <cstddef>

#include "com/include/objbase.h"

namespace hbt::com {

extern "C" void* CoTaskMemAlloc(std::size_t size);  // null when memory runs out; any size 0 gives a valid block
extern "C" void* CoTaskMemRealloc(void* block, std::size_t size);
extern "C" void CoTaskMemFree(void* block);  // null is allowed

}  // namespace hbt::com
