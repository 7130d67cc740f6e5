// A tear-off: one interface of an owning object, created on the first request for it. It has
// no reference count of its own; identity and lifetime are the owner's.
#pragma once

#include "opc/com_base.h"

namespace hbt::opc {

template <class Interface, class Owner>
class TearOff : public Interface {
 public:
  explicit TearOff(Owner* owner) : owner_(owner) {}
  HRESULT QueryInterface(REFIID riid, void** object) override { return owner_->QueryInterface(riid, object); }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }

 protected:
  Owner* owner_;
};

}  // namespace hbt::opc
