#include "editor/file_commands.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "editor/config_file.h"
#include "editor/scripted_port.h"
#include "editor/test_configs.h"
#include "platform/registry.h"

namespace hbt::editor {
namespace {

namespace fs = std::filesystem;

class FakeSettings final : public HostSettings {
 public:
  std::optional<std::string> startup_file() override { return startup; }
  bool set_startup_file(std::string_view path) override {
    startup = std::string(path);
    ++startup_writes;
    return true;
  }
  std::optional<HostNames> host_names() override { return names; }
  std::string error_file_folder() override { return error_folder; }
  char list_separator() override { return separator; }

  std::optional<std::string> startup;
  int startup_writes = 0;
  std::optional<HostNames> names;
  std::string error_folder;
  char separator = ',';
};

class FileCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("hbt_editor_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    testing::build_small_plant(doc);
    doc.set_modified(true);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const char* name) const { return (dir / name).string(); }
  static std::string slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path dir;
  CDidDoc doc;
  ScriptedPort ui;
  FakeSettings settings;
};

TEST_F(FileCommandsTest, SaveAsksToRecordANewStartupFile) {
  settings.startup = path("OTHER.HBT");
  ui.script({Answer::Yes});
  ASSERT_TRUE(save_configuration(doc, path("PLANT.HBT"), ui, settings, 7));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "You are Saving to " + path("PLANT.HBT") +
                                  "\nThe Driver is starting up with " + path("OTHER.HBT") +
                                  "\nDo You wish to make this the new Startup file ?");
  EXPECT_EQ(ui.boxes[0].caption, "Warning !");
  EXPECT_EQ(ui.boxes[0].buttons, Buttons::YesNo);
  EXPECT_EQ(settings.startup, path("PLANT.HBT"));
  EXPECT_FALSE(doc.modified());
  EXPECT_EQ(doc.path(), path("PLANT.HBT"));
  EXPECT_TRUE(doc.saved_since_start());
  // Saving to the start-up file itself asks nothing.
  ui.boxes.clear();
  ASSERT_TRUE(save_configuration(doc, path("PLANT.HBT"), ui, settings, 7));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(settings.startup_writes, 1);
}

TEST_F(FileCommandsTest, AnsweringNoOrHavingNoStartupFileRecordsNothing) {
  settings.startup = path("OTHER.HBT");
  ui.script({Answer::No});
  ASSERT_TRUE(save_configuration(doc, path("PLANT.HBT"), ui, settings, 7));
  EXPECT_EQ(settings.startup, path("OTHER.HBT"));
  settings.startup.reset();
  ui.boxes.clear();
  ASSERT_TRUE(save_configuration(doc, path("PLANT.HBT"), ui, settings, 7));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(settings.startup_writes, 0);
}

TEST_F(FileCommandsTest, WarnsWhenTheHostExpectsAnotherName) {
  settings.names = HostSettings::HostNames{dir.string(), "NODE1"};
  ASSERT_TRUE(save_configuration(doc, path("PLANT.HBT"), ui, settings, 7));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "You are Saving to " + path("PLANT.HBT") + "\niFix is expecting " +
                                  path("NODE1.HBT") + "\niFix expects \\PDB\\<nodename>.XXX");
  EXPECT_EQ(ui.boxes[0].icon, Icon::Warning);
  // The expected name, in any letter case, gets no warning.
  ui.boxes.clear();
  ASSERT_TRUE(save_configuration(doc, path("node1.hbt"), ui, settings, 7));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(FileCommandsTest, AFailedSaveLeavesTheOldFileAndTheDocumentAsTheyWere) {
  ASSERT_TRUE(save_configuration(doc, path("PLANT.HBT"), ui, settings, 7));
  std::string before = slurp(path("PLANT.HBT"));
  // More devices with poll records than the file holds.
  for (int c = 2; c <= 32; ++c) {
    doc.select_channel(c);
    for (int d = 0; d < 9; ++d) {
      CDevice* device = d == 0 ? doc.current_device() : doc.add_default_device();
      testing::add_record(device, "D:0", "1");
    }
  }
  doc.set_modified(true);
  ui.boxes.clear();
  EXPECT_FALSE(save_configuration(doc, path("PLANT.HBT"), ui, settings, 8));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Save refused: 280 devices with poll records, the file holds at most 255.");
  EXPECT_EQ(slurp(path("PLANT.HBT")), before);
  EXPECT_TRUE(doc.modified());
  // A folder that does not exist: reported, nothing written, no temporary left behind.
  ui.boxes.clear();
  CDidDoc small;
  testing::build_small_plant(small);
  EXPECT_FALSE(save_configuration(small, path("missing/PLANT.HBT"), ui, settings, 8));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text.rfind("Unable to save " + path("missing/PLANT.HBT"), 0), 0u);
  int entries = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 1) << "only PLANT.HBT, no temporary file";
}

TEST_F(FileCommandsTest, OpenShowsCorruptionAndLeavesAnEmptyDocument) {
  ASSERT_TRUE(save_configuration(doc, path("PLANT.HBT"), ui, settings, 7));
  CDidDoc opened;
  ASSERT_TRUE(open_configuration(opened, path("PLANT.HBT"), ui));
  EXPECT_EQ(opened.poll_record_count(), 3u);
  EXPECT_EQ(opened.path(), path("PLANT.HBT"));
  EXPECT_FALSE(opened.modified());

  std::string bytes = slurp(path("PLANT.HBT"));
  std::ofstream(path("BAD.HBT"), std::ios::binary).write(bytes.data(), 500);
  ui.boxes.clear();
  EXPECT_FALSE(open_configuration(opened, path("BAD.HBT"), ui));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "File Open Error");
  EXPECT_EQ(ui.boxes[0].caption, "The Configuration file is corrupt, Please re-save");
  EXPECT_TRUE(opened.channels().empty());

  ui.boxes.clear();
  EXPECT_FALSE(open_configuration(opened, path("NONE.HBT"), ui));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("Unable to open"), std::string::npos);
}

TEST_F(FileCommandsTest, OlderFormatWarnsAndLoads) {
  ASSERT_TRUE(save_configuration(doc, path("PLANT.HBT"), ui, settings, 7));
  std::string bytes = slurp(path("PLANT.HBT"));
  bytes[102 + 20] = 86;
  std::ofstream(path("OLD.HBT"), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ui.boxes.clear();
  CDidDoc opened;
  EXPECT_TRUE(open_configuration(opened, path("OLD.HBT"), ui));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Older File Format, Please save & re-open");
  EXPECT_EQ(ui.boxes[0].caption, "WARNING ! 86");
  EXPECT_EQ(opened.poll_record_count(), 3u);
}

TEST_F(FileCommandsTest, ExtensionsChooseTheCommand) {
  EXPECT_FALSE(save_as(doc, path("PLANT.TXT"), ui, settings, 7));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Invalid File Type specified.");
  settings.separator = ';';
  ASSERT_TRUE(save_as(doc, path("plant.csv"), ui, settings, 7));
  EXPECT_NE(slurp(path("plant.csv")).find("!CHANNEL;DISPLAY ALARMS;"), std::string::npos);
  ASSERT_TRUE(save_as(doc, path("plant.hbt"), ui, settings, 7));
  CDidDoc other;
  settings.error_folder = dir.string();
  ASSERT_TRUE(open_by_extension(other, path("plant.csv"), ui, settings));
  EXPECT_EQ(other.poll_record_count(), 3u);
  EXPECT_TRUE(other.modified());
  EXPECT_EQ(other.title(), "Untitled");
  ASSERT_TRUE(open_by_extension(other, path("plant.hbt"), ui, settings));
  EXPECT_EQ(other.poll_record_count(), 3u);
  ui.boxes.clear();
  EXPECT_FALSE(open_by_extension(other, path("plant.txt"), ui, settings));
  EXPECT_EQ(ui.boxes.at(0).text, "Invalid File Type specified.");
}

TEST_F(FileCommandsTest, ModifiedDocumentQuestion) {
  ui.script({Answer::Cancel, Answer::No});
  EXPECT_FALSE(confirm_discard(doc, ui, settings, 7, dir.string()));
  EXPECT_TRUE(confirm_discard(doc, ui, settings, 7, dir.string()));
  EXPECT_EQ(ui.boxes[0].text,
            "The I/O Driver Configuration has been modified but not saved. \n\rSave changes? "
            "(Selecting NO will result in changes being discarded.)");
  EXPECT_EQ(ui.boxes[0].buttons, Buttons::YesNoCancel);
  // Yes on an untitled document offers Save As; cancelling that dialog keeps the document.
  ui.script({Answer::Yes});
  ui.script_files({std::nullopt});
  EXPECT_FALSE(confirm_discard(doc, ui, settings, 7, dir.string()));
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_TRUE(ui.dialogs[0].save);
  EXPECT_EQ(ui.dialogs[0].initial_folder, dir.string());
  EXPECT_TRUE(doc.modified());
  ui.script({Answer::Yes});
  ui.script_files({path("PLANT.HBT")});
  EXPECT_TRUE(confirm_discard(doc, ui, settings, 7, dir.string()));
  EXPECT_TRUE(fs::exists(path("PLANT.HBT")));
  EXPECT_FALSE(doc.modified());
  EXPECT_EQ(doc.path(), path("PLANT.HBT"));
  // With a file of its own, Yes saves there without a dialog.
  doc.set_modified(true);
  ui.script({Answer::Yes});
  EXPECT_TRUE(confirm_discard(doc, ui, settings, 8, dir.string()));
  EXPECT_EQ(ui.dialogs.size(), 2u);
  EXPECT_FALSE(doc.modified());
  ui.boxes.clear();
  EXPECT_TRUE(confirm_discard(doc, ui, settings, 7, dir.string()));
  EXPECT_TRUE(ui.boxes.empty()) << "an unmodified document asks nothing";
}

TEST_F(FileCommandsTest, OpenAfterAnImportOffersToSaveTheImport) {
  ASSERT_TRUE(save_as(doc, path("plant.csv"), ui, settings, 7));
  ASSERT_TRUE(save_as(doc, path("other.hbt"), ui, settings, 7));
  CDidDoc imported;
  settings.error_folder = dir.string();
  ASSERT_TRUE(open_by_extension(imported, path("plant.csv"), ui, settings));
  ASSERT_TRUE(imported.modified());
  ASSERT_EQ(imported.path(), "");
  // Open: Yes to the question, a name in the Save As dialog, then the file to open.
  ui.boxes.clear();
  ui.script({Answer::Yes});
  ui.script_files({path("imported.hbt"), path("other.hbt")});
  ASSERT_TRUE(open_command(imported, ui, settings, 9, dir.string()));
  ASSERT_EQ(ui.dialogs.size(), 2u);
  EXPECT_TRUE(ui.dialogs[0].save);
  EXPECT_FALSE(ui.dialogs[1].save);
  CDidDoc saved;
  ASSERT_TRUE(open_configuration(saved, path("imported.hbt"), ui));
  EXPECT_EQ(saved.poll_record_count(), 3u) << "the import was saved before the open";
  EXPECT_EQ(imported.path(), path("other.hbt"));
}

TEST_F(FileCommandsTest, SaveKeepsTheDocumentsOwnFileWhateverItsExtension) {
  ASSERT_TRUE(save_configuration(doc, path("plant.cfg"), ui, settings, 7));
  CDidDoc opened;
  ASSERT_TRUE(open_configuration(opened, path("plant.cfg"), ui));  // open by path
  opened.set_modified(true);
  ui.boxes.clear();
  ASSERT_TRUE(save_command(opened, ui, settings, 8, dir.string()));
  EXPECT_TRUE(ui.boxes.empty()) << ui.boxes[0].text;
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_FALSE(opened.modified());
  EXPECT_EQ(opened.path(), path("plant.cfg"));
  // Its file gone, Save asks for a name instead of writing blindly.
  fs::remove(path("plant.cfg"));
  opened.set_modified(true);
  ui.script_files({std::nullopt});
  EXPECT_FALSE(save_command(opened, ui, settings, 9, dir.string()));
  EXPECT_EQ(ui.dialogs.size(), 1u);
  EXPECT_FALSE(fs::exists(path("plant.cfg")));
}

TEST_F(FileCommandsTest, AFailedSaveRecordsNoStartupFile) {
  settings.startup = path("OTHER.HBT");
  // Refused by the file format.
  for (int c = 2; c <= 32; ++c) {
    doc.select_channel(c);
    for (int d = 0; d < 9; ++d) {
      CDevice* device = d == 0 ? doc.current_device() : doc.add_default_device();
      testing::add_record(device, "D:0", "1");
    }
  }
  ui.script({Answer::Yes});
  EXPECT_FALSE(save_configuration(doc, path("BIG.HBT"), ui, settings, 7));
  EXPECT_EQ(ui.boxes.at(0).buttons, Buttons::YesNo) << "the question is still asked first";
  EXPECT_EQ(settings.startup, path("OTHER.HBT"));
  EXPECT_EQ(settings.startup_writes, 0);
  // Refused by the file system.
  CDidDoc small;
  testing::build_small_plant(small);
  ui.script({Answer::Yes});
  EXPECT_FALSE(save_configuration(small, path("missing/PLANT.HBT"), ui, settings, 7));
  EXPECT_EQ(settings.startup, path("OTHER.HBT"));
  EXPECT_EQ(settings.startup_writes, 0);
  // A save that works records it.
  ui.script({Answer::Yes});
  EXPECT_TRUE(save_configuration(small, path("PLANT.HBT"), ui, settings, 7));
  EXPECT_EQ(settings.startup, path("PLANT.HBT"));
}

TEST_F(FileCommandsTest, DialogsStartAtTheStartupFile) {
  FileDialog none = configuration_dialog(settings, false, "/srv/hbt/");
  EXPECT_EQ(none.filter, "Config. Files (*.HBT)|*.HBT|Text Files (*.CSV)|*.CSV||");
  EXPECT_EQ(none.default_extension, "HBT");
  EXPECT_EQ(none.initial_folder, "/srv/hbt/");
  EXPECT_EQ(none.initial_name, "DEFAULT.HBT");
  EXPECT_TRUE(none.must_exist);
  settings.startup = "/plant/cfg/LINE1.HBT";
  FileDialog recorded = configuration_dialog(settings, true, "/srv/hbt/");
  EXPECT_EQ(recorded.initial_folder, "/plant/cfg/");
  EXPECT_EQ(recorded.initial_name, "LINE1");
  EXPECT_TRUE(recorded.save);
}

TEST_F(FileCommandsTest, OpenAndSaveCommandsGoThroughTheDialogs) {
  // Save with no path yet behaves as Save As; a cancelled dialog saves nothing.
  ui.script_files({std::nullopt, path("PLANT.HBT")});
  EXPECT_FALSE(save_command(doc, ui, settings, 7, dir.string()));
  EXPECT_TRUE(doc.modified());
  EXPECT_TRUE(save_command(doc, ui, settings, 7, dir.string()));
  EXPECT_EQ(ui.dialogs.size(), 2u);
  EXPECT_EQ(doc.path(), path("PLANT.HBT"));
  // Once the file exists Save asks for no file name.
  doc.set_modified(true);
  EXPECT_TRUE(save_command(doc, ui, settings, 8, dir.string()));
  EXPECT_EQ(ui.dialogs.size(), 2u);
  // Open: the modified question first (Cancel stops before the dialog).
  doc.set_modified(true);
  ui.script({Answer::Cancel, Answer::No});
  EXPECT_FALSE(open_command(doc, ui, settings, 9, dir.string()));
  EXPECT_EQ(ui.dialogs.size(), 2u);
  ui.script_files({path("PLANT.HBT")});
  EXPECT_TRUE(open_command(doc, ui, settings, 9, dir.string()));
  EXPECT_EQ(doc.poll_record_count(), 3u);
  EXPECT_FALSE(doc.modified());
}

// The registry-backed settings, against a private registry directory.
TEST_F(FileCommandsTest, RegistrySettingsReadTheHostKeys) {
  ::setenv("HBT_REGISTRY_DIR", (dir / "registry").c_str(), 1);
  namespace reg = hbt::platform::registry;
  RegistryHostSettings registry;
  EXPECT_FALSE(registry.startup_file());
  EXPECT_FALSE(registry.host_names());
  EXPECT_EQ(registry.error_file_folder(), "");
  EXPECT_EQ(registry.list_separator(), ',');
  ASSERT_TRUE(registry.set_startup_file("/plant/PLANT.HBT"));
  EXPECT_EQ(reg::get_string(reg::Hive::LocalMachine, "Software\\Velmora\\Brenlow\\Config", "ConfigFile"),
            "/plant/PLANT.HBT");
  ASSERT_TRUE(reg::set_string(reg::Hive::ClassesRoot, "Software\\FixDMACS\\PDBPATH", "", "/fix32/pdb"));
  ASSERT_TRUE(reg::set_string(reg::Hive::ClassesRoot, "Software\\FixDMACS\\NODENAME", "", "SCADA1"));
  ASSERT_TRUE(reg::set_string(reg::Hive::ClassesRoot, "Software\\Velmora\\Brenlow\\PDBPATH", "", "/own"));
  auto names = registry.host_names();
  ASSERT_TRUE(names);
  EXPECT_EQ(names->database_path, "/fix32/pdb");
  EXPECT_EQ(names->node_name, "SCADA1");
  ASSERT_TRUE(reg::set_string(reg::Hive::LocalMachine, "Software\\Velmora\\Brenlow\\Config", "DriverExe",
                              "/opt/fix32/bin/HBTSPOLL"));
  EXPECT_EQ(registry.error_file_folder(), "/fix32/pdb");
  ASSERT_TRUE(reg::set_string(reg::Hive::LocalMachine, "Software\\Velmora\\Brenlow\\Config", "DriverExe",
                              "/opt/hbt/HBTSPOLL"));
  EXPECT_EQ(registry.error_file_folder(), "/own");
  ASSERT_TRUE(reg::set_string(reg::Hive::CurrentUser, "Control Panel\\International", "sList", ";"));
  EXPECT_EQ(registry.list_separator(), ';');
  ASSERT_TRUE(reg::set_string(reg::Hive::CurrentUser, "Control Panel\\International", "sList", "\t"));
  EXPECT_EQ(registry.list_separator(), '\t');
  ASSERT_TRUE(reg::set_string(reg::Hive::CurrentUser, "Control Panel\\International", "sList", "\"x"));
  EXPECT_EQ(registry.list_separator(), ',') << "a quote cannot separate fields";
  ::unsetenv("HBT_REGISTRY_DIR");
}

}  // namespace
}  // namespace hbt::editor
