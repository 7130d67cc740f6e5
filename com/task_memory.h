// The COM task allocator: memory handed across an interface belongs to whoever receives it
// and is given back with CoTaskMemFree.
#pragma once

#include <cstddef>

namespace hbt::com {

void* CoTaskMemAlloc(std::size_t size);  // null when memory runs out; any size 0 gives a valid block
void* CoTaskMemRealloc(void* block, std::size_t size);
void CoTaskMemFree(void* block);  // null is allowed

}  // namespace hbt::com
