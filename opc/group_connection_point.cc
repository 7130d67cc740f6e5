// The group's connection point for IOPCDataCallback and its container.
#include <new>

#include "opc/com_util.h"
#include "opc/connection_points.h"
#include "opc/group_tear_offs.h"

namespace hbt::opc {

class ImplOPCGroupCP final : public ConnectionPoint<ImplGroupCPC> {
 public:
  explicit ImplOPCGroupCP(ImplGroupCPC* container) : ConnectionPoint(container, IID_IOPCDataCallback) {}
};

ImplGroupCPC::ImplGroupCPC(COPCDrvGroup* group) : TearOff(group), point_(new ImplOPCGroupCP(this)) {}

ImplGroupCPC::~ImplGroupCPC() { delete point_; }

HRESULT ImplGroupCPC::EnumConnectionPoints(IEnumConnectionPoints** out) {
  return enumerate_connection_point(point_, out);
}

HRESULT ImplGroupCPC::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!is(riid, IID_IOPCDataCallback)) return CONNECT_E_NOCONNECTION;
  point_->AddRef();
  *out = point_;
  return S_OK;
}

}  // namespace hbt::opc
