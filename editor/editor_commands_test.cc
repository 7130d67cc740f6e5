#include "editor/editor_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "editor/fake_driver_link.h"
#include "editor/fake_host_settings.h"
#include "editor/file_commands.h"
#include "editor/scripted_app_port.h"
#include "editor/test_configs.h"

namespace hbt::editor {
namespace {

namespace fs = std::filesystem;

class EditorCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("hbt_cmds_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = (dir / "PLANT.HBT").string();
    settings.startup = path;
    testing::build_small_plant(doc);
    doc.select_channel(1);
  }
  void TearDown() override { fs::remove_all(dir); }
  // Saves the plant so that the document has a file; the document is then unmodified
  // and saved since the last reload.
  void save_plant() {
    ASSERT_TRUE(save_configuration(doc, path, port.boxes, settings, 1));
    port.boxes.boxes.clear();
  }
  std::vector<std::string> box_texts() const {
    std::vector<std::string> texts;
    for (const auto& b : port.boxes.boxes) texts.push_back(b.text);
    return texts;
  }

  fs::path dir;
  std::string path;
  CDidDoc doc;
  ScriptedAppPort port;
  FakeHostSettings settings;
  FakeDriverLink driver;
  EditorCommands commands{doc, port, settings, driver, "/tmp/"};
};

TEST_F(EditorCommandsTest, ExitDialogStatesFollowModifiedAndSavedSinceReload) {
  // A fresh, unmodified document that was never saved closes at once.
  doc.set_modified(false);
  EXPECT_FALSE(commands.exit_choices());
  EXPECT_TRUE(commands.close_requested());
  EXPECT_TRUE(port.exit_dialogs.empty());

  // Modified: both boxes checked.
  doc.set_modified(true);
  EXPECT_EQ(commands.exit_choices(), (ExitChoices{true, true, true}));

  // Unmodified after a save: asks once, Reload checked and Save unchecked.
  save_plant();
  EXPECT_EQ(commands.exit_choices(), (ExitChoices{false, true, true}));
  port.exit_answer = [](ExitChoices&) {};
  EXPECT_TRUE(commands.close_requested());
  ASSERT_EQ(port.exit_dialogs.size(), 1u);
  EXPECT_EQ(driver.reloads.size(), 1u);
  EXPECT_FALSE(commands.exit_choices()) << "the reload cleared the saved mark";

  // Without poll records the reload is unchecked and disabled, but changes still ask.
  CDidDoc empty;
  empty.ensure_channel();
  empty.set_modified(true);
  EditorCommands bare(empty, port, settings, driver, "/tmp/");
  EXPECT_EQ(bare.exit_choices(), (ExitChoices{true, false, false}));
}

TEST_F(EditorCommandsTest, ExitCancelOrFailedSaveKeepsTheProgramAndTheChanges) {
  doc.set_modified(true);
  EXPECT_FALSE(commands.close_requested()) << "Cancel";
  EXPECT_TRUE(doc.modified());

  // Save checked but the document has no file and the Save As dialog is cancelled.
  port.exit_answer = [](ExitChoices& c) { c.reload = false; };
  EXPECT_FALSE(commands.close_requested());
  EXPECT_TRUE(doc.modified());

  // Save checked with a chosen file: saved, not reloaded, closed.
  port.boxes.script_files({path});
  EXPECT_TRUE(commands.close_requested());
  EXPECT_FALSE(doc.modified());
  EXPECT_TRUE(fs::exists(path));
  EXPECT_TRUE(driver.reloads.empty());
}

TEST_F(EditorCommandsTest, ReloadAsksAboutChangesAndAlwaysReportsCompletion) {
  save_plant();
  std::size_t records = doc.poll_record_count();

  // Cancel: nothing happens.
  testing::add_record(doc.current_device(), "D:500", "4");
  doc.set_modified(true);
  port.boxes.script({Answer::Cancel});
  EXPECT_FALSE(commands.reload());
  EXPECT_TRUE(driver.reloads.empty());
  EXPECT_EQ(doc.poll_record_count(), records + 1);
  ASSERT_EQ(port.boxes.boxes.size(), 1u);
  EXPECT_EQ(port.boxes.boxes[0].text, kMsgReloadModified);
  EXPECT_EQ(port.boxes.boxes[0].buttons, Buttons::YesNoCancel);

  // No: the changes are discarded by reopening the file, then the driver reloads.
  port.boxes.boxes.clear();
  port.boxes.script({Answer::No});
  EXPECT_TRUE(commands.reload());
  EXPECT_EQ(doc.poll_record_count(), records);
  EXPECT_FALSE(doc.modified());
  ASSERT_EQ(driver.reloads.size(), 1u);
  EXPECT_EQ(driver.reloads[0], path);
  EXPECT_EQ(box_texts().back(), kMsgReloadComplete);
  EXPECT_EQ(port.boxes.boxes.back().icon, Icon::Information);

  // Yes: saved first, the file then holds the change.
  doc.select_channel(1);
  testing::add_record(doc.current_device(), "D:600", "4");
  doc.set_modified(true);
  port.boxes.boxes.clear();
  port.boxes.script({Answer::Yes});
  EXPECT_TRUE(commands.reload());
  EXPECT_EQ(driver.reloads.size(), 2u);
  EXPECT_EQ(doc.poll_record_count(), records + 1);
  EXPECT_FALSE(doc.saved_since_start());
  EXPECT_GE(port.boxes.busy_changes, 2) << "the wait cursor during save and reload";
}

TEST_F(EditorCommandsTest, ReloadWithoutPollRecordsOnlyWarns) {
  CDidDoc empty;
  empty.ensure_channel();
  EditorCommands bare(empty, port, settings, driver, "/tmp/");
  EXPECT_FALSE(bare.reload());
  ASSERT_EQ(port.boxes.boxes.size(), 1u);
  EXPECT_EQ(port.boxes.boxes[0].text, kMsgDriverNotStarted);
  EXPECT_TRUE(driver.reloads.empty());
}

TEST_F(EditorCommandsTest, OptionsToggleOnTheCurrentChannel) {
  doc.set_modified(false);
  EXPECT_FALSE(commands.comms_alarms_disabled());
  commands.toggle_disable_comms_alarms();
  EXPECT_TRUE(commands.comms_alarms_disabled());
  EXPECT_EQ(doc.current_channel()->disable_comms_alarms(), 1);
  EXPECT_TRUE(doc.modified());
  commands.toggle_disable_comms_alarms();
  EXPECT_EQ(doc.current_channel()->disable_comms_alarms(), 0);

  commands.toggle_learn_addresses();
  EXPECT_TRUE(commands.learning_addresses());
  doc.select_channel(2);
  EXPECT_FALSE(commands.learning_addresses()) << "learning belongs to one channel";
  doc.select_channel(1);
  EXPECT_TRUE(commands.learning_addresses());
  port.boxes.script_files({path});
  ASSERT_TRUE(commands.save_as());
  EXPECT_FALSE(commands.learning_addresses()) << "a save clears learning";

  commands.save_log_file();
  EXPECT_EQ(box_texts().back(), "Log File will be saved to HBT_LOG.TXT");
  EXPECT_TRUE(doc.log_flag());
}

TEST_F(EditorCommandsTest, MessagesAreListedAndLearnedOnlyWhileLearning) {
  MessageList list;
  driver.messages.push_back({0x46, "nio_map_hdr() failed"});
  driver.messages.push_back({0x07, "NIO-* IO Address Error; Data not found -PLC1:D:300"});
  std::size_t dropped = 0;
  std::size_t records = doc.poll_record_count();
  EXPECT_EQ(commands.read_messages(list, &dropped), 2);
  EXPECT_EQ(doc.poll_record_count(), records) << "learning is off";
  ASSERT_EQ(list.lines().size(), 2u);
  EXPECT_TRUE(list.lines()[0].alarm);
  EXPECT_FALSE(list.lines()[1].alarm);

  commands.toggle_learn_addresses();
  driver.messages.push_back({0x07, "NIO-* IO Address Error; Data not found -PLC1:D:3000"});
  commands.read_messages(list, &dropped);
  EXPECT_EQ(doc.poll_record_count(), records + 1);
  EXPECT_TRUE(commands.take_learned_change());
  EXPECT_FALSE(commands.take_learned_change());
}

TEST_F(EditorCommandsTest, AddDeviceTakesACheckedNameOrRemovesTheDevice) {
  std::size_t devices = doc.current_channel()->devices().size();
  // Cancel removes the default device again.
  EXPECT_EQ(commands.add_device(), nullptr);
  EXPECT_EQ(doc.current_channel()->devices().size(), devices);
  // A refused name asks again; the second one is taken.
  port.device_names = {std::string("bad name"), std::string("PLC9")};
  CDrvSpecificDevice* device = commands.add_device();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->name(), "PLC9");
  EXPECT_EQ(doc.current_device(), device);
  EXPECT_TRUE(doc.modified());
  EXPECT_EQ(port.boxes.boxes.size(), 1u);
  // An empty name is Cancel.
  port.device_names = {std::string("")};
  EXPECT_EQ(commands.add_device(), nullptr);
  EXPECT_EQ(doc.current_channel()->devices().size(), devices + 1);
}

TEST_F(EditorCommandsTest, StartupFileOpensWhenItExistsElseANewDocument) {
  save_plant();
  CDidDoc other;
  EditorCommands start(other, port, settings, driver, "/tmp/");
  start.open_startup_file();
  EXPECT_EQ(other.poll_record_count(), doc.poll_record_count());
  EXPECT_EQ(other.path(), path);

  settings.startup = (dir / "MISSING.HBT").string();
  CDidDoc fresh;
  EditorCommands none(fresh, port, settings, driver, "/tmp/");
  none.open_startup_file();
  EXPECT_EQ(fresh.poll_record_count(), 0u);
  EXPECT_EQ(fresh.channels().size(), 1u);
}

}  // namespace
}  // namespace hbt::editor
