#include "opc/enumerators.h"

#include <new>

#include "opc/com_util.h"

namespace hbt::opc {
namespace {

// What differs between the two enumerators: how one element is handed out and let go.
struct UnknownTraits {
  using Element = IUnknown*;
  using Out = IUnknown*;
  static bool hand_out(const Element& e, Out* out) {
    e->AddRef();
    *out = e;
    return true;
  }
  static void undo(Out out) { out->Release(); }
  static Element copy(const Element& e) {
    e->AddRef();
    return e;
  }
  static void drop(Element& e) { e->Release(); }
};

struct StringTraits {
  using Element = std::u16string;
  using Out = LPOLESTR;
  static bool hand_out(const Element& e, Out* out) {
    *out = task_wide_copy(e);
    return *out != nullptr;
  }
  static void undo(Out out) { com::CoTaskMemFree(out); }
  static Element copy(const Element& e) { return e; }
  static void drop(Element&) {}
};

template <class Interface, class Traits>
class Enumerator final : public Interface {
 public:
  using Element = typename Traits::Element;
  using Out = typename Traits::Out;

  Enumerator(IUnknown* parent, std::vector<Element> elements, std::size_t position = 0)
      : parent_(parent), elements_(std::move(elements)), position_(position) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!is(riid, IID_IUnknown) && !is(riid, kIid)) return E_NOINTERFACE;
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override {
    if (parent_) parent_->AddRef();
    return ++refs_;
  }
  ULONG Release() override {
    IUnknown* parent = parent_;
    ULONG left = --refs_;
    if (left == 0) delete this;
    if (parent) parent->Release();
    return left;
  }

  HRESULT Next(ULONG count, Out* out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (!out || (count > 1 && !fetched)) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < elements_.size()) {
      if (!Traits::hand_out(elements_[position_], &out[n])) {
        while (n > 0) Traits::undo(out[--n]);
        return E_OUTOFMEMORY;
      }
      ++n;
      ++position_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    if (count != 0 && position_ + count >= elements_.size()) return S_FALSE;
    position_ += count;
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(Interface** out) override {
    if (!out) return E_INVALIDARG;
    std::vector<Element> copy;
    copy.reserve(elements_.size());
    for (const Element& e : elements_) copy.push_back(Traits::copy(e));
    auto* clone = new (std::nothrow) Enumerator(parent_, std::move(copy), position_);
    if (!clone) {
      *out = nullptr;
      return E_OUTOFMEMORY;
    }
    clone->AddRef();
    *out = clone;
    return S_OK;
  }

  static const IID kIid;

 private:
  ~Enumerator() {
    for (Element& e : elements_) Traits::drop(e);
  }

  IUnknown* parent_;
  std::vector<Element> elements_;
  std::size_t position_;
  std::atomic<ULONG> refs_{0};
};

template <>
const IID Enumerator<IEnumUnknown, UnknownTraits>::kIid = IID_IEnumUnknown;
template <>
const IID Enumerator<IEnumString, StringTraits>::kIid = IID_IEnumString;

}  // namespace

IEnumUnknown* new_unknown_enumerator(IUnknown* parent, std::vector<IUnknown*> elements) {
  auto* e = new (std::nothrow) Enumerator<IEnumUnknown, UnknownTraits>(parent, elements);
  if (!e) {
    for (IUnknown* u : elements) u->Release();
    return nullptr;
  }
  e->AddRef();
  return e;
}

IEnumString* new_string_enumerator(IUnknown* parent, std::vector<std::u16string> elements) {
  auto* e = new (std::nothrow) Enumerator<IEnumString, StringTraits>(parent, std::move(elements));
  if (!e) return nullptr;
  e->AddRef();
  return e;
}

}  // namespace hbt::opc
