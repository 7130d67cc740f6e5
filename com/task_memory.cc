#include "com/task_memory.h"

#include <cstdlib>

namespace hbt::com {

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

void* CoTaskMemRealloc(void* block, std::size_t size) { return std::realloc(block, size == 0 ? 1 : size); }

void CoTaskMemFree(void* block) { std::free(block); }

}  // namespace hbt::com
