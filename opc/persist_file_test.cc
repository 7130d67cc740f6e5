// IPersistFile on the server object: the class identifier, and Load judging only the name.
#include "opc/persist_file.h"

#include "com/task_memory.h"
#include "opc/test_server.h"

namespace hbt::opc::testing {
namespace {

TEST_F(ServerTest, PersistFileJudgesTheNameAndKeepsNothing) {
  auto* file = query<IPersistFile>(server, IID_IPersistFile);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Load(u"plant.HBT", 0), S_OK);
  EXPECT_EQ(file->Load(u"C:\\HBT\\DEFAULT.HBT", 0), S_OK);
  EXPECT_EQ(file->Load(u"plant", 0), S_OK);
  EXPECT_EQ(file->Load(u"", 0), S_OK);
  EXPECT_EQ(file->Load(u"plant.cfg", 0), OPC_E_INVALIDCONFIGFILE);
  EXPECT_EQ(file->Load(u"plant.hbt", 0), OPC_E_INVALIDCONFIGFILE);  // case counts
  EXPECT_EQ(file->Load(u"plant.HBT.bak", 0), OPC_E_INVALIDCONFIGFILE);
  EXPECT_EQ(file->Load(u"my.plant.HBT", 0), OPC_E_INVALIDCONFIGFILE);  // after the first full stop
  EXPECT_EQ(file->Load(u"plant.", 0), OPC_E_INVALIDCONFIGFILE);
  EXPECT_EQ(file->Load(u".HBT", 0), S_OK);
  EXPECT_EQ(file->Load(nullptr, 0), E_INVALIDARG);
  std::u16string very_long(10000, u'x');
  EXPECT_EQ(file->Load((very_long + u".HBT").c_str(), 0), S_OK);

  EXPECT_EQ(file->IsDirty(), S_OK);
  EXPECT_EQ(file->Save(u"elsewhere.HBT", TRUE), S_OK);
  EXPECT_EQ(file->Save(nullptr, FALSE), S_OK);
  EXPECT_EQ(file->SaveCompleted(nullptr), S_OK);
  LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
  ASSERT_EQ(file->GetCurFile(&name), S_OK);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name[0], 0);
  com::CoTaskMemFree(name);
  EXPECT_EQ(file->GetCurFile(nullptr), E_FAIL);

  CLSID clsid{};
  EXPECT_EQ(file->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, kServerClsid));
  EXPECT_EQ(file->GetClassID(nullptr), E_INVALIDARG);

  // IPersist is the same object, and both lead back to the server.
  auto* persist = query<IPersist>(file, IID_IPersist);
  ASSERT_NE(persist, nullptr);
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  auto* back = query<IOPCServer>(persist, IID_IOPCServer);
  EXPECT_EQ(back, server);
  back->Release();
  persist->Release();
  file->Release();
}

}  // namespace
}  // namespace hbt::opc::testing
