// An enumerator over a snapshot of values (IEnumGUID, IEnumCATEGORYINFO, ...), with the
// reference counting and Next/Skip/Reset/Clone rules every COM enumerator shares.
#pragma once

#include <atomic>
#include <new>
#include <utility>
#include <vector>

#include "com/include/objbase.h"

namespace hbt::com {

template <typename Interface, typename Item, const IID& kIid>
class SnapshotEnumerator final : public Interface {
 public:
  explicit SnapshotEnumerator(std::vector<Item> items, std::size_t position = 0)
      : items_(std::move(items)), position_(position) {}

  // A new enumerator with one reference, or null when memory runs out.
  static Interface* create(std::vector<Item> items) {
    return new (std::nothrow) SnapshotEnumerator(std::move(items));
  }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == kIid) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // S_OK when `count` items were copied out, S_FALSE when fewer were left.
  HRESULT Next(ULONG count, Item* items, ULONG* fetched) override {
    if (fetched != nullptr) *fetched = 0;
    if (count == 0) return S_OK;
    if (items == nullptr || (fetched == nullptr && count != 1)) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < items_.size()) items[n++] = items_[position_++];
    if (fetched != nullptr) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    std::size_t left = items_.size() - position_;
    if (count > left) {
      position_ = items_.size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(Interface** copy) override {
    if (copy == nullptr) return E_INVALIDARG;
    try {
      *copy = new (std::nothrow) SnapshotEnumerator(items_, position_);
    } catch (const std::bad_alloc&) {
      *copy = nullptr;
    }
    return *copy != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~SnapshotEnumerator() = default;

  std::atomic<ULONG> references_{1};
  std::vector<Item> items_;
  std::size_t position_;
};

}  // namespace hbt::com
