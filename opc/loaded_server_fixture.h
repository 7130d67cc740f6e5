// HBTOPC.so loaded as the COM layer loads it, over a driver image whose records all read
// good: what the tests of the library's exports and of plain C clients start from.
#pragma once

#include "hostlib/loaded_library_fixture.h"
#include "opc/com_base.h"

namespace hbt::opc::testing {

class LoadedServer : public hostlib::testing::LoadedLibraryOverImage {
 protected:
  LoadedServer() : LoadedLibraryOverImage(HBT_LIB_DIR "/HBTOPC.so") {}
};

}  // namespace hbt::opc::testing
