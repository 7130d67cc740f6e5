// The document's file commands without their dialogs: save a configuration (with the
// registry questions), open one, and dispatch Save As / Open on the file's extension.
#pragma once

#include <cstdint>
#include <string>

#include "editor/csv.h"
#include "editor/document.h"
#include "editor/host_settings.h"
#include "editor/ui_port.h"

namespace hbt::editor {

// Saves the document to `path`: asks whether to make it the driver's start-up file when
// another one is recorded, warns when the host expects another name, writes the file
// whole or not at all. On success the document takes the path and is unmodified.
bool save_configuration(CDidDoc& doc, const std::string& path, UiPort& ui, HostSettings& settings,
                        std::uint32_t save_time);

// Empties the document and reads the file into it. A corrupt file shows "File Open Error"
// and leaves the document empty.
bool open_configuration(CDidDoc& doc, const std::string& path, UiPort& ui);

// Save As: ".HBT" saves a configuration, ".CSV" exports, anything else is refused.
bool save_as(CDidDoc& doc, const std::string& path, UiPort& ui, HostSettings& settings,
             std::uint32_t save_time);

// Open from the dialog: empties the document, then ".HBT" opens a configuration, ".CSV"
// imports, anything else is refused.
bool open_by_extension(CDidDoc& doc, const std::string& path, UiPort& ui, HostSettings& settings);

// The modified-document question before the document is replaced. Returns false when
// the user cancels (or the save fails or its dialog is cancelled); Yes saves as Save does,
// through the Save As dialog when the document has no file yet.
bool confirm_discard(CDidDoc& doc, UiPort& ui, HostSettings& settings, std::uint32_t save_time,
                     const std::string& fallback_folder);

// The dialog of Open and Save As: the configuration and CSV filter, default extension
// "HBT", and the folder and name of the recorded start-up file, or else `fallback_folder`
// and "DEFAULT.HBT".
FileDialog configuration_dialog(HostSettings& settings, bool save, const std::string& fallback_folder);

// The Open command: the modified-document question, the file dialog, then
// open_by_extension. False when cancelled or failed.
bool open_command(CDidDoc& doc, UiPort& ui, HostSettings& settings, std::uint32_t save_time,
                  const std::string& fallback_folder);
// Save: to the document's path when that file exists (as a configuration file, whatever
// its extension), otherwise as Save As.
bool save_command(CDidDoc& doc, UiPort& ui, HostSettings& settings, std::uint32_t save_time,
                  const std::string& fallback_folder);
// Save As: the file dialog, then save_as.
bool save_as_command(CDidDoc& doc, UiPort& ui, HostSettings& settings, std::uint32_t save_time,
                     const std::string& fallback_folder);

// Extension of a path in upper case, without the dot ("" when none).
std::string upper_extension(const std::string& path);

}  // namespace hbt::editor
