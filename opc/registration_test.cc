// Registration against a private registry: every key and value of the class, its ProgIDs,
// AppID, categories and settings; settings an administrator changed survive a second
// registration; unregistration leaves nothing behind.
#include "opc/registration.h"

#include <gtest/gtest.h>

#include "opc/identity.h"
#include "opc/settings.h"
#include "platform/registry.h"
#include "testsupport/test_environment.h"

namespace hbt::opc {
namespace {

namespace reg = platform::registry;
constexpr auto kCr = reg::Hive::ClassesRoot;
constexpr auto kLm = reg::Hive::LocalMachine;
constexpr char kClsid[] = "{6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}";
constexpr char kSettings[] = "Software\\Velmora\\Brenlow\\\\OPC";

class Registration : public ::testing::Test {
 protected:
  testsupport::TestEnvironment env;
};

std::optional<std::string> default_of(const std::string& key) { return reg::get_string(kCr, key, ""); }

TEST_F(Registration, WritesEveryKeyOfTheClassAndItsProgIds) {
  ASSERT_EQ(register_server("/opt/hbt/lib/HBTOPC.so"), S_OK);
  const std::string desc = "Velmora Brenlow Ethernet Driver";
  const std::string clsid = std::string("CLSID\\") + kClsid;
  const std::string appid = std::string("AppID\\") + kClsid;
  EXPECT_EQ(default_of("Velmora.Brenlow.7.9.21"), desc);
  EXPECT_EQ(default_of("Velmora.Brenlow.7.9.21\\CLSID"), kClsid);
  EXPECT_EQ(default_of("Velmora.Brenlow"), desc);
  EXPECT_EQ(default_of("Velmora.Brenlow\\CurVer"), "Velmora.Brenlow.7.9.21");
  EXPECT_EQ(default_of("Velmora.Brenlow\\CLSID"), kClsid);
  EXPECT_TRUE(reg::key_exists(kCr, "Velmora.Brenlow\\OPC"));
  EXPECT_EQ(default_of("Velmora.Brenlow\\OPC\\Vendor"), "Velmora");
  EXPECT_EQ(default_of(clsid), desc);
  EXPECT_EQ(default_of(clsid + "\\ProgID"), "Velmora.Brenlow.7.9.21");
  EXPECT_EQ(default_of(clsid + "\\VersionIndependentProgID"), "Velmora.Brenlow");
  EXPECT_TRUE(reg::key_exists(kCr, clsid + "\\NotInsertable"));
  EXPECT_EQ(default_of(clsid + "\\InprocServer32"), "/opt/hbt/lib/HBTOPC.so");
  EXPECT_EQ(reg::get_string(kCr, clsid + "\\InprocServer32", "ThreadingModel"), "Free");
  EXPECT_EQ(reg::get_string(kCr, clsid, "AppID"), kClsid);
  EXPECT_EQ(default_of(appid), desc);
  EXPECT_EQ(reg::get_string(kCr, appid, "DllSurrogate"), "");
  EXPECT_EQ(reg::get_dword(kCr, appid, "AuthenticationLevel"), 0u);
  // The three OPC DA categories, and the class listed under each.
  for (const char* cat : {"{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}", "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}",
                          "{CC603642-66D7-48F1-B69A-B625E73652D7}"}) {
    EXPECT_TRUE(reg::key_exists(kCr, clsid + "\\Implemented Categories\\" + cat)) << cat;
    EXPECT_TRUE(reg::key_exists(kCr, std::string("Component Categories\\") + cat)) << cat;
  }
  // A client finds the class by category through the runtime.
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  ICatInformation* info = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatInformation,
                             reinterpret_cast<void**>(&info)),
            S_OK);
  IEnumGUID* classes = nullptr;
  ASSERT_EQ(info->EnumClassesOfCategories(1, &CATID_OPCDAServer20, static_cast<ULONG>(-1), nullptr, &classes), S_OK);
  GUID found{};
  ULONG n = 0;
  EXPECT_EQ(classes->Next(1, &found, &n), S_OK);
  EXPECT_TRUE(IsEqualGUID(found, kServerClsid));
  LPWSTR text = nullptr;
  ASSERT_EQ(info->GetCategoryDesc(CATID_OPCDAServer30, 0x409, &text), S_OK);
  EXPECT_EQ(std::u16string(text), u"OPC Data Access Servers Version 3.0");
  CoTaskMemFree(text);
  classes->Release();
  info->Release();
  CoUninitialize();
}

TEST_F(Registration, WritesTheSettingDefaultsUnderTheKeyWithTwoSeparators) {
  ASSERT_EQ(identity().settings_key, kSettings);
  register_server("/x/HBTOPC.so");
  const std::string s = kSettings;
  EXPECT_EQ(reg::get_dword(kLm, s + "\\ServerDefaults", "ThreadSleepTime"), 40u);
  EXPECT_EQ(reg::get_dword(kLm, s + "\\ServerDefaults", "ThreadPriority"), 7u);
  EXPECT_EQ(reg::get_dword(kLm, s + "\\ItemDefaults", "AutoStart"), 1u);
  EXPECT_EQ(reg::get_dword(kLm, s + "\\ItemDefaults", "StringLength"), 120u);
  EXPECT_EQ(reg::get_string(kLm, s + "\\ItemDefaults", "SignalConditioning"), "NONE");
  EXPECT_EQ(reg::get_string(kLm, s + "\\ItemDefaults", "LoEGU"), "0.0");
  EXPECT_EQ(reg::get_string(kLm, s + "\\ItemDefaults", "HiEGU"), "65535.0");
  EXPECT_EQ(reg::get_string(kLm, s + "\\ItemDefaults", "HardwareOptions"), "NONE");
  EXPECT_EQ(reg::get_string(kLm, s + "\\GroupDefaults", "GeneratedGroupName"), "Group");
}

TEST_F(Registration, ChangedSettingsSurviveAndADeletedSubkeyComesBackWithDefaults) {
  register_server("/x/HBTOPC.so");
  const std::string s = kSettings;
  reg::set_dword(kLm, s + "\\ServerDefaults", "ThreadSleepTime", 250);
  reg::set_string(kLm, s + "\\GroupDefaults", "GeneratedGroupName", "Line");
  reg::delete_value(kLm, s + "\\GroupDefaults", "GeneratedGroupName");
  reg::set_string(kLm, s + "\\GroupDefaults", "Other", "kept");
  reg::delete_key(kLm, s + "\\ItemDefaults");
  register_server("/x/HBTOPC.so");
  EXPECT_EQ(reg::get_dword(kLm, s + "\\ServerDefaults", "ThreadSleepTime"), 250u);
  // An existing subkey is left alone even with a value missing.
  EXPECT_EQ(reg::get_string(kLm, s + "\\GroupDefaults", "GeneratedGroupName"), std::nullopt);
  EXPECT_EQ(reg::get_string(kLm, s + "\\ItemDefaults", "HiEGU"), "65535.0");
}

TEST_F(Registration, UnregistrationLeavesNoKeyOfTheServer) {
  register_server("/x/HBTOPC.so");
  // Values an administrator added under the AppID go with it.
  reg::set_string(kCr, std::string("AppID\\") + kClsid, "AccessPermission", "x");
  reg::create_key(kCr, std::string("AppID\\") + kClsid + "\\Implemented Catergories");
  EXPECT_EQ(unregister_server(), S_OK);
  for (const std::string& key :
       {std::string("Velmora.Brenlow"), std::string("Velmora.Brenlow.7.9.21"), std::string("CLSID\\") + kClsid,
        std::string("AppID\\") + kClsid})
    EXPECT_FALSE(reg::key_exists(kCr, key)) << key;
  EXPECT_FALSE(reg::key_exists(kLm, kSettings));
  EXPECT_TRUE(reg::subkeys(kCr, "CLSID").empty());
  EXPECT_TRUE(reg::subkeys(kCr, "AppID").empty());
  // Unregistering twice is harmless.
  EXPECT_EQ(unregister_server(), S_OK);
}

TEST_F(Registration, SettingsLoadTakesDefaultsForWhatIsMissingOrUnreadable) {
  Settings fresh = load_settings();
  EXPECT_EQ(fresh.thread_sleep_time, 40u);
  EXPECT_EQ(fresh.string_length, 120);
  EXPECT_EQ(fresh.hardware_options, "");  // the default NONE reads as empty
  EXPECT_EQ(fresh.generated_group_name, "Group");

  const std::string s = kSettings;
  reg::set_dword(kLm, s + "\\ItemDefaults", "StringLength", 70000);
  reg::set_string(kLm, s + "\\ItemDefaults", "HardwareOptions", "none");
  reg::set_string(kLm, s + "\\ItemDefaults", "SignalConditioning", "NONE");
  reg::set_string(kLm, s + "\\ItemDefaults", "LoEGU", std::string(100, '1'));  // does not fit 100 bytes
  reg::set_string(kLm, s + "\\ItemDefaults", "HiEGU", std::string(99, '9'));
  reg::set_string(kLm, s + "\\ServerDefaults", "ThreadSleepTime", "100");    // wrong type
  reg::set_dword(kLm, s + "\\ServerDefaults", "ThreadPriority", 15);
  reg::set_string(kLm, s + "\\GroupDefaults", "GeneratedGroupName", "");
  Settings loaded = load_settings();
  EXPECT_EQ(loaded.string_length, 4464);
  EXPECT_EQ(loaded.hardware_options, "");
  EXPECT_EQ(loaded.signal_conditioning, "NONE");
  EXPECT_EQ(loaded.lo_egu, "0.0");
  EXPECT_EQ(loaded.hi_egu, std::string(99, '9'));
  EXPECT_EQ(loaded.thread_sleep_time, 40u);
  EXPECT_EQ(loaded.thread_priority, 15u);
  EXPECT_EQ(loaded.generated_group_name, "");

  reg::set_string(kLm, s + "\\ItemDefaults", "HardwareOptions", "NoNe ");
  EXPECT_EQ(load_settings().hardware_options, "NoNe ");
  reg::set_string(kLm, s + "\\ItemDefaults", "HardwareOptions", "B");
  EXPECT_EQ(load_settings().hardware_options, "B");
}

}  // namespace
}  // namespace hbt::opc
