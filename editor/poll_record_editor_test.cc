#include "editor/poll_record_editor.h"

#include <gtest/gtest.h>

#include "editor/scripted_app_port.h"
#include "editor/test_configs.h"

namespace hbt::editor {
namespace {

using Field = PollRecordEditor::Field;

class PollRecordEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::build_small_plant(doc);
    doc.select_channel(1);
    device = doc.current_device();
    doc.set_modified(false);
    for (const auto& r : device->iorecs()) before.push_back(r->write_csv_line(','));
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> now;
    for (const auto& r : device->iorecs()) now.push_back(r->write_csv_line(','));
    return now;
  }
  CDidDoc doc;
  CDrvSpecificDevice* device = nullptr;
  ScriptedAppPort port;
  std::vector<std::string> before;
};

TEST_F(PollRecordEditorTest, DoubleClickBelowTheLastRowThenCancelLeavesTheDeviceUnchanged) {
  port.poll_record_answer = [](PollRecordEditor& e) {
    EXPECT_TRUE(e.set_field(Field::Start, "D:2000").ok());
    e.press_cancel();
  };
  auto change = edit_poll_record_at(doc, *device, 99, port);
  EXPECT_TRUE(change.removed);
  EXPECT_EQ(lines(), before);
  EXPECT_FALSE(doc.modified());
}

TEST_F(PollRecordEditorTest, DoubleClickBelowTheLastRowThenOkAppends) {
  port.poll_record_answer = [](PollRecordEditor& e) {
    EXPECT_TRUE(e.set_field(Field::Start, "D:2000").ok());
    EXPECT_TRUE(e.set_field(Field::Length, "8").ok());
    e.press_ok();
  };
  auto change = edit_poll_record_at(doc, *device, static_cast<int>(before.size()), port);
  ASSERT_EQ(device->iorecs().size(), before.size() + 1);
  EXPECT_EQ(change.redraw_row, static_cast<int>(before.size()));
  EXPECT_EQ(static_cast<CDrvSpecificIORec*>(device->iorecs().back().get())->get_end_address(), "D:2007");
}

TEST_F(PollRecordEditorTest, CancelRestoresEveryEditedField) {
  port.poll_record_answer = [](PollRecordEditor& e) {
    EXPECT_TRUE(e.set_field(Field::Length, "50").ok());
    EXPECT_TRUE(e.set_field(Field::PollTime, "5").ok());
    EXPECT_TRUE(e.set_field(Field::Deadband, "2").ok());
    e.press_cancel();
  };
  edit_poll_record_at(doc, *device, 2, port);
  EXPECT_EQ(lines(), before);
  EXPECT_FALSE(doc.modified());
}

TEST_F(PollRecordEditorTest, RefusedFieldKeepsTheOldValue) {
  port.poll_record_answer = [](PollRecordEditor& e) {
    std::string start = e.field_text(Field::Start);
    // Overlaps the first record (X:0..X:F) of the device.
    Message m = e.set_field(Field::Start, "M:9000");
    EXPECT_FALSE(e.set_field(Field::PollTime, "abc").ok());
    EXPECT_FALSE(e.set_field(Field::Start, "ZZ:1").ok());
    EXPECT_EQ(e.field_text(Field::Start), m.ok() ? "M:9000" : start);
    e.press_ok();
  };
  edit_poll_record_at(doc, *device, 2, port);  // D:100 x10
  // Either refused (overlap with M:9000) or accepted; the other records are untouched.
  EXPECT_EQ(lines()[0], before[0]);
  EXPECT_EQ(lines()[1], before[1]);
}

TEST_F(PollRecordEditorTest, OkMarksModifiedOnlyWhenSomethingDiffers) {
  port.poll_record_answer = [](PollRecordEditor& e) { e.press_ok(); };
  auto change = edit_poll_record_at(doc, *device, 1, port);
  EXPECT_EQ(change.redraw_row, 1);
  EXPECT_FALSE(doc.modified());
  port.poll_record_answer = [](PollRecordEditor& e) {
    EXPECT_TRUE(e.set_field(Field::PollTime, "2.5").ok());
    e.press_ok();
  };
  edit_poll_record_at(doc, *device, 1, port);
  EXPECT_TRUE(doc.modified());
  EXPECT_NE(lines()[1], before[1]);
}

TEST_F(PollRecordEditorTest, DeleteRemovesTheRecord) {
  port.poll_record_answer = [](PollRecordEditor& e) { e.press_delete(); };
  auto change = edit_poll_record_at(doc, *device, 0, port);
  EXPECT_TRUE(change.removed);
  ASSERT_EQ(device->iorecs().size(), before.size() - 1);
  EXPECT_EQ(lines()[0], before[1]);
  EXPECT_TRUE(doc.modified());
}

TEST_F(PollRecordEditorTest, NewDiscardsEditsAndAppendsOnOk) {
  port.poll_record_answer = [](PollRecordEditor& e) {
    EXPECT_TRUE(e.set_field(Field::PollTime, "9").ok());
    e.press_new();
    EXPECT_TRUE(e.editing_new());
    EXPECT_EQ(e.field_text(Field::Start), "--Undefined--");
    EXPECT_TRUE(e.set_field(Field::Start, "W:100").ok());
    e.press_ok();
  };
  auto change = edit_poll_record_at(doc, *device, 0, port);
  ASSERT_EQ(device->iorecs().size(), before.size() + 1);
  EXPECT_EQ(lines()[0], before[0]) << "edits before New are discarded";
  EXPECT_EQ(change.redraw_row, static_cast<int>(before.size()));
}

TEST_F(PollRecordEditorTest, ADialogClosedWithoutAButtonIsCancel) {
  port.poll_record_answer = [](PollRecordEditor& e) { EXPECT_TRUE(e.set_field(Field::Length, "3").ok()); };
  edit_poll_record_at(doc, *device, 2, port);
  EXPECT_EQ(lines(), before);
}

}  // namespace
}  // namespace hbt::editor
