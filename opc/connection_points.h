// What the server's and the groups' connection-point containers share.
#pragma once

#include "opc/com_base.h"

namespace hbt::opc {

// An enumerator over the one connection point of a container.
HRESULT enumerate_connection_point(IConnectionPoint* point, IEnumConnectionPoints** out);

}  // namespace hbt::opc
