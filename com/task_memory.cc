#include "com/task_memory.h"

#include <malloc.h>

#include <cstdlib>

namespace hbt::com {

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

void* CoTaskMemRealloc(void* block, std::size_t size) {
  if (block == nullptr) return CoTaskMemAlloc(size);
  if (size == 0) {
    std::free(block);
    return nullptr;
  }
  return std::realloc(block, size);
}

void CoTaskMemFree(void* block) { std::free(block); }

namespace {

// The one task allocator of the process. It lives as long as the library, so its reference
// count is only kept for the look of it.
class TaskAllocator final : public IMalloc {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMalloc) {
      *object = static_cast<IMalloc*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  void* Alloc(SIZE_T size) override { return CoTaskMemAlloc(size); }
  void* Realloc(void* block, SIZE_T size) override { return CoTaskMemRealloc(block, size); }
  void Free(void* block) override { CoTaskMemFree(block); }
  // The usable size of the block, which may exceed what was asked for.
  SIZE_T GetSize(void* block) override { return block == nullptr ? static_cast<SIZE_T>(-1) : malloc_usable_size(block); }
  // A block's owner cannot be told from its address here.
  int DidAlloc(void*) override { return -1; }
  void HeapMinimize() override { malloc_trim(0); }
};

TaskAllocator task_allocator;

}  // namespace

}  // namespace hbt::com

extern "C" HRESULT CoGetMalloc(DWORD context, LPMALLOC* malloc) {
  if (malloc == nullptr) return E_INVALIDARG;
  if (context != MEMCTX_TASK) {
    *malloc = nullptr;
    return E_INVALIDARG;
  }
  *malloc = &hbt::com::task_allocator;
  return S_OK;
}
