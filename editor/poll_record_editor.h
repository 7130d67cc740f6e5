// The poll record dialog's behaviour: it edits one poll record of a device with the rules
// of the model, and its buttons New, Delete, OK and Cancel decide what reaches the device.
// Also the poll-record list's double-click, which opens the dialog and tidies up after it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "editor/app_port.h"
#include "editor/document.h"

namespace hbt::editor {

class PollRecordEditor {
 public:
  enum class Field { Start, End, Length, DataType, PollTime, AccessTime, Exception, Deadband };
  enum class Outcome { Open, Cancelled, Accepted, Deleted };

  // `record` belongs to `device`. Edits go straight to it, so the overlap rule sees the
  // record's own range as its own; Cancel puts the saved state back.
  PollRecordEditor(CDidDoc& doc, CDrvSpecificDevice& device, CDrvSpecificIORec& record);
  ~PollRecordEditor();

  // Sets a field of the poll record being edited; a refusal (message not ok) changes
  // nothing. A data type the address does not allow is corrected, with a note message.
  Message set_field(Field field, std::string_view text);
  std::string field_text(Field field) const;
  // The record the fields show (the original, or a fresh one after New).
  const CDrvSpecificIORec& working() const { return fresh_ ? *fresh_ : record_; }
  bool editing_new() const { return fresh_ != nullptr; }

  void press_new();
  void press_delete();
  void press_ok();
  void press_cancel();

  Outcome outcome() const { return outcome_; }
  // The poll record the dialog ended on: the original, the appended new one, or null.
  CDrvSpecificIORec* current() const { return current_; }

 private:
  CDrvSpecificIORec& working_mut() { return fresh_ ? *fresh_ : record_; }

  CDidDoc& doc_;
  CDrvSpecificDevice& device_;
  CDrvSpecificIORec& record_;
  CDrvSpecificIORec saved_;
  std::unique_ptr<CDrvSpecificIORec> fresh_;
  Outcome outcome_ = Outcome::Open;
  CDrvSpecificIORec* current_ = nullptr;
};

// What the list has to do after a double-click.
struct PollRecordListChange {
  bool removed = false;  // a poll record left with length 0 was removed: draw the list anew
  int redraw_row = -1;   // row to draw again
};

// A double-click on `row` of the device's poll-record list: a row opens the dialog on its
// poll record; a click below the last row appends a new default poll record first. After
// the dialog, a current poll record of length 0 is removed and deleted.
PollRecordListChange edit_poll_record_at(CDidDoc& doc, CDrvSpecificDevice& device, int row,
                                         AppPort& port);

}  // namespace hbt::editor
