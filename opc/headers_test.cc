// The public OPC headers give a C client and the C++ server the same structures and vtables.
#include <gtest/gtest.h>

#include <cstddef>

#include "opc/com_base.h"

extern "C" std::size_t opc_c_layout(int which);

namespace {

TEST(OpcHeaders, CAndCxxAgreeOnStructuresAndVtables) {
  EXPECT_EQ(opc_c_layout(0), sizeof(OPCITEMDEF));
  EXPECT_EQ(opc_c_layout(1), sizeof(OPCITEMRESULT));
  EXPECT_EQ(opc_c_layout(2), sizeof(OPCITEMATTRIBUTES));
  EXPECT_EQ(opc_c_layout(3), sizeof(OPCSERVERSTATUS));
  EXPECT_EQ(opc_c_layout(4), sizeof(OPCITEMSTATE));
  EXPECT_EQ(opc_c_layout(5), sizeof(OPCITEMVQT));
  EXPECT_EQ(opc_c_layout(6), offsetof(OPCSERVERSTATUS, szVendorInfo));
  EXPECT_EQ(opc_c_layout(7), offsetof(OPCITEMATTRIBUTES, vEUInfo));
  EXPECT_EQ(opc_c_layout(12), sizeof(VARIANT));
  EXPECT_EQ(opc_c_layout(13), offsetof(OPCITEMPROPERTY, vValue));
  // IUnknown's three slots plus the interface's own methods, in the published order.
  EXPECT_EQ(opc_c_layout(8), 3u + 6u);
  EXPECT_EQ(opc_c_layout(9), 3u + 7u);
  EXPECT_EQ(opc_c_layout(10), 3u + 4u + 2u);
  EXPECT_EQ(opc_c_layout(11), 3u + 6u + 3u);
  // The server browser of the OPC Common interfaces: three methods each, an enumerator of four.
  EXPECT_EQ(opc_c_layout(14), 3u + 3u);
  EXPECT_EQ(opc_c_layout(15), 3u + 3u);
  EXPECT_EQ(opc_c_layout(16), 3u + 4u);
  EXPECT_EQ(opc_c_layout(17), 1u);
  EXPECT_EQ(opc_c_layout(18), 3u + 2u);  // IOPCBrowse: GetProperties, Browse
  EXPECT_EQ(opc_c_layout(19), sizeof(OPCBROWSEELEMENT));
  EXPECT_EQ(opc_c_layout(20), offsetof(OPCBROWSEELEMENT, ItemProperties));
  EXPECT_EQ(opc_c_layout(21), sizeof(OPCITEMPROPERTIES));
}

TEST(OpcHeaders, IdentifiersHaveTheirPublishedValues) {
  EXPECT_EQ(IID_IOPCServer.Data1, 0x39C13A4Du);
  EXPECT_EQ(IID_IOPCItemMgt.Data1, 0x39C13A54u);
  EXPECT_EQ(IID_IOPCCommon.Data1, 0xF31DFDE2u);
  EXPECT_EQ(CATID_OPCDAServer30.Data4[7], 0xD7);
  EXPECT_TRUE(IsEqualGUID(IID_CATID_OPCDAServer10, CATID_OPCDAServer10));
  EXPECT_TRUE(IsEqualGUID(IID_CATID_OPCDAServer20, CATID_OPCDAServer20));
  EXPECT_TRUE(IsEqualGUID(IID_CATID_OPCDAServer30, CATID_OPCDAServer30));
  EXPECT_EQ(IID_IOPCServerList.Data1, 0x13486D50u);
  EXPECT_EQ(IID_IOPCServerList2.Data1, 0x9DD0B56Cu);
  EXPECT_EQ(IID_IOPCServerList2.Data4[7], 0x7A);
  EXPECT_EQ(IID_IOPCEnumGUID.Data1, 0x55C382C8u);
  EXPECT_EQ(IID_IOPCEnumGUID.Data4[7], 0x83);
  EXPECT_EQ(OPC_E_INVALIDITEMID, static_cast<HRESULT>(0xC0040008u));
  EXPECT_EQ(OPC_S_UNSUPPORTEDRATE, 0x0004000D);
}

}  // namespace
