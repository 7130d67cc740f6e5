// GlobalAlloc and its family: sized blocks that clipboard-format data travels in. Every live
// block is in a table, so a handle that is not one (freed twice, made up) is refused instead
// of being dereferenced.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "com/include/winbase.h"

namespace {

struct Block {
  void* data = nullptr;
  SIZE_T size = 0;
  bool moveable = false;
  unsigned locks = 0;
};

// A moveable block's handle is the address of this small record; a fixed block's handle is
// its data address. Both are keys of the table.
struct MoveableHandle {
  char unused;
};

std::mutex& blocks_mutex() {
  static std::mutex mutex;
  return mutex;
}
std::unordered_map<void*, Block>& blocks() {
  static std::unordered_map<void*, Block> table;
  return table;
}

void* allocate(SIZE_T size, UINT flags) {
  // A zero-size block still gets an address of its own.
  void* data = std::malloc(size == 0 ? 1 : size);
  if (data != nullptr && (flags & GMEM_ZEROINIT) != 0) std::memset(data, 0, size == 0 ? 1 : size);
  return data;
}

}  // namespace

extern "C" HGLOBAL GlobalAlloc(UINT flags, SIZE_T size) {
  try {
    void* data = allocate(size, flags);
    if (data == nullptr) return nullptr;
    Block block{data, size, (flags & GMEM_MOVEABLE) != 0, 0};
    void* handle = data;
    if (block.moveable) {
      handle = new (std::nothrow) MoveableHandle{};
      if (handle == nullptr) {
        std::free(data);
        return nullptr;
      }
    }
    std::lock_guard lock(blocks_mutex());
    blocks().emplace(handle, block);
    return handle;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

extern "C" HGLOBAL GlobalFree(HGLOBAL handle) {
  if (handle == nullptr) return nullptr;
  Block block;
  {
    std::lock_guard lock(blocks_mutex());
    auto found = blocks().find(handle);
    if (found == blocks().end()) return handle;
    block = found->second;
    blocks().erase(found);
  }
  std::free(block.data);
  if (block.moveable) delete static_cast<MoveableHandle*>(handle);
  return nullptr;
}

extern "C" HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T size, UINT flags) {
  std::lock_guard lock(blocks_mutex());
  auto found = blocks().find(handle);
  if (found == blocks().end()) return nullptr;
  Block& block = found->second;
  // A fixed block cannot move (its handle is its address), nor can a locked one.
  if (!block.moveable || block.locks > 0) {
    if (size <= block.size) {
      block.size = size;
      return handle;
    }
    return nullptr;
  }
  void* data = std::realloc(block.data, size == 0 ? 1 : size);
  if (data == nullptr) return nullptr;
  if ((flags & GMEM_ZEROINIT) != 0 && size > block.size)
    std::memset(static_cast<char*>(data) + block.size, 0, size - block.size);
  block.data = data;
  block.size = size;
  return handle;
}

extern "C" LPVOID GlobalLock(HGLOBAL handle) {
  std::lock_guard lock(blocks_mutex());
  auto found = blocks().find(handle);
  if (found == blocks().end()) return nullptr;
  if (found->second.moveable) ++found->second.locks;
  return found->second.data;
}

extern "C" BOOL GlobalUnlock(HGLOBAL handle) {
  std::lock_guard lock(blocks_mutex());
  auto found = blocks().find(handle);
  if (found == blocks().end() || !found->second.moveable || found->second.locks == 0) return FALSE;
  return --found->second.locks > 0 ? TRUE : FALSE;
}

extern "C" SIZE_T GlobalSize(HGLOBAL handle) {
  std::lock_guard lock(blocks_mutex());
  auto found = blocks().find(handle);
  return found == blocks().end() ? 0 : found->second.size;
}

extern "C" HGLOBAL GlobalHandle(LPCVOID address) {
  if (address == nullptr) return nullptr;
  std::lock_guard lock(blocks_mutex());
  for (const auto& [handle, block] : blocks())
    if (block.data == address) return handle;
  return nullptr;
}
