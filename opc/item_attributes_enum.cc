#include "opc/item_attributes_enum.h"

#include <atomic>
#include <cstring>
#include <new>

#include "com/variant.h"
#include "opc/com_util.h"

namespace hbt::opc {
namespace {

class CImpIEnumOPCItemAttributes final : public IEnumOPCItemAttributes {
 public:
  CImpIEnumOPCItemAttributes(IUnknown* group, std::vector<OPCITEMATTRIBUTES> items, std::size_t position)
      : group_(group), items_(std::move(items)), position_(position) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!is(riid, IID_IUnknown) && !is(riid, IID_IEnumOPCItemAttributes)) return E_NOINTERFACE;
    *object = static_cast<IEnumOPCItemAttributes*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override {
    group_->AddRef();
    return ++refs_;
  }
  ULONG Release() override {
    IUnknown* group = group_;
    ULONG left = --refs_;
    if (left == 0) delete this;
    group->Release();
    return left;
  }

  // One block from the task allocator holds the fetched entries; their strings are copies.
  HRESULT Next(ULONG count, OPCITEMATTRIBUTES** out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    std::size_t n = std::min<std::size_t>(count, items_.size() - position_);
    if (n > 0) {
      auto* block = static_cast<OPCITEMATTRIBUTES*>(com::CoTaskMemAlloc(n * sizeof(OPCITEMATTRIBUTES)));
      if (!block) return E_OUTOFMEMORY;
      for (std::size_t i = 0; i < n; ++i) {
        block[i] = items_[position_ + i];
        block[i].szAccessPath = task_wide_copy(std::u16string_view());
        block[i].szItemID = task_wide_copy(std::u16string_view());
        com::VariantInit(&block[i].vEUInfo);
        if (!block[i].szAccessPath || !block[i].szItemID) {
          for (std::size_t j = 0; j <= i; ++j) {
            com::CoTaskMemFree(block[j].szAccessPath);
            com::CoTaskMemFree(block[j].szItemID);
          }
          com::CoTaskMemFree(block);
          return E_OUTOFMEMORY;
        }
      }
      *out = block;
      position_ += n;
    }
    if (fetched) *fetched = static_cast<ULONG>(n);
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    if (count != 0 && position_ + count >= items_.size()) return S_FALSE;
    position_ += count;
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumOPCItemAttributes** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    auto* clone = new (std::nothrow) CImpIEnumOPCItemAttributes(group_, items_, position_);
    if (!clone) return E_OUTOFMEMORY;
    clone->AddRef();
    *out = clone;
    return S_OK;
  }

 private:
  ~CImpIEnumOPCItemAttributes() = default;

  IUnknown* group_;
  std::vector<OPCITEMATTRIBUTES> items_;  // strings and variants empty: nothing owned
  std::size_t position_;
  std::atomic<ULONG> refs_{0};
};

}  // namespace

IEnumOPCItemAttributes* new_item_attributes_enumerator(IUnknown* group, std::vector<OPCITEMATTRIBUTES> snapshot) {
  auto* e = new (std::nothrow) CImpIEnumOPCItemAttributes(group, std::move(snapshot), 0);
  if (!e) return nullptr;
  e->AddRef();
  return e;
}

}  // namespace hbt::opc
