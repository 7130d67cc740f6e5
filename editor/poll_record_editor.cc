#include "editor/poll_record_editor.h"

namespace hbt::editor {

PollRecordEditor::PollRecordEditor(CDidDoc& doc, CDrvSpecificDevice& device, CDrvSpecificIORec& record)
    : doc_(doc), device_(device), record_(record), saved_(record) {}

PollRecordEditor::~PollRecordEditor() {
  // A dialog that went away without a button behaves as Cancel.
  if (outcome_ == Outcome::Open) press_cancel();
}

Message PollRecordEditor::set_field(Field field, std::string_view text) {
  CDrvSpecificIORec& r = working_mut();
  switch (field) {
    case Field::Start: return r.set_start_address(text);
    case Field::End: return r.set_end_address(text);
    case Field::Length: return r.set_length(text);
    case Field::DataType: return r.set_data_type(text);
    case Field::PollTime: return r.set_poll_time(text);
    case Field::AccessTime: return r.set_access_time(text);
    case Field::Exception: return r.set_exception_type(text);
    case Field::Deadband: return r.set_deadband(text, true);
  }
  return accepted();
}

std::string PollRecordEditor::field_text(Field field) const {
  const CDrvSpecificIORec& r = working();
  switch (field) {
    case Field::Start: return r.get_start_address();
    case Field::End: return r.get_end_address();
    case Field::Length: return r.get_length();
    case Field::DataType: return r.get_data_type();
    case Field::PollTime: return r.get_poll_time();
    case Field::AccessTime: return r.get_access_time();
    case Field::Exception: return r.get_exception_type();
    case Field::Deadband: return r.get_deadband();
  }
  return {};
}

void PollRecordEditor::press_new() {
  // The edits so far are discarded; the original keeps its saved state.
  record_ = saved_;
  fresh_ = std::make_unique<CDrvSpecificIORec>();
  fresh_->set_device(&device_);
}

void PollRecordEditor::press_delete() {
  outcome_ = Outcome::Deleted;
  if (fresh_) {
    // Deleting a poll record that was never appended leaves the device as it was.
    fresh_.reset();
    record_ = saved_;
    current_ = &record_;
    outcome_ = Outcome::Cancelled;
    return;
  }
  current_ = &record_;
  doc_.set_modified(true);
}

void PollRecordEditor::press_ok() {
  outcome_ = Outcome::Accepted;
  if (fresh_) {
    // The original was restored by New; the new one joins the device.
    if (fresh_->length() == 0) {
      current_ = nullptr;
      fresh_.reset();
      return;
    }
    current_ = static_cast<CDrvSpecificIORec*>(device_.add_iorec(std::move(fresh_)));
    doc_.set_modified(true);
    return;
  }
  current_ = &record_;
  if (!record_.same_fields(saved_)) doc_.set_modified(true);
}

void PollRecordEditor::press_cancel() {
  outcome_ = Outcome::Cancelled;
  fresh_.reset();
  record_ = saved_;
  current_ = &record_;
}

PollRecordListChange edit_poll_record_at(CDidDoc& doc, CDrvSpecificDevice& device, int row,
                                         AppPort& port) {
  auto& records = device.iorecs();
  CDrvSpecificIORec* record = nullptr;
  if (row >= 0 && static_cast<std::size_t>(row) < records.size()) {
    record = static_cast<CDrvSpecificIORec*>(records[static_cast<std::size_t>(row)].get());
  } else {
    auto fresh = std::make_unique<CDrvSpecificIORec>();
    fresh->set_device(&device);
    record = static_cast<CDrvSpecificIORec*>(device.add_iorec(std::move(fresh)));
  }
  CDrvSpecificIORec* current = nullptr;
  PollRecordEditor::Outcome outcome;
  {
    PollRecordEditor editor(doc, device, *record);
    port.poll_record_dialog(editor);
    if (editor.outcome() == PollRecordEditor::Outcome::Open) editor.press_cancel();
    current = editor.current();
    outcome = editor.outcome();
  }
  PollRecordListChange change;
  if (current == nullptr) {
    // New then OK on an empty record: nothing was appended; the original stays as it was,
    // unless it is the empty one a click below the list made.
    current = record;
  }
  if (outcome == PollRecordEditor::Outcome::Deleted || current->length() == 0) {
    device.delete_iorec(current);
    change.removed = true;
    if (record != current && record->length() == 0) device.delete_iorec(record);
    return change;
  }
  if (record != current && record->length() == 0) {
    device.delete_iorec(record);
    change.removed = true;
    return change;
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].get() == current) change.redraw_row = static_cast<int>(i);
  }
  return change;
}

}  // namespace hbt::editor
