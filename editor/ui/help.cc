// The program's help: short pages of its own, shown in a browser window inside the program.
#include <QDialog>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <map>

#include "editor/ui/dialogs.h"

namespace hbt::editor::ui {

namespace {

const std::map<QString, QString>& pages() {
  static const std::map<QString, QString> kPages = {
      {"contents", R"(<h2>I/O Driver Configurator</h2>
<p>The configurator edits the configuration file of the Brenlow Ethernet Driver (HBT): its
channels, the PLCs on each channel and the poll records (I/O blocks) read from each PLC.
While the driver runs, the configurator shows its traffic, the state of each poll record and
the driver's messages.</p>
<ul><li><a href="procedures">Procedures</a></li><li><a href="commands">Commands</a></li>
<li><a href="keyboard">Keyboard</a></li><li><a href="glossary">Glossary</a></li>
<li><a href="using">Using Help</a></li></ul>)"},
      {"procedures", R"(<h2>Procedures</h2>
<h3>Set up a channel</h3><p>Select the channel with its number button, then press
<b>Setup the Selected Channel</b>. Enter the PLC's IP address, the port (5000 is opened
automatically by a Q PLC) and UDP or TCP. Timeout, delay and retries decide when a PLC counts
as failed.</p>
<h3>Add a PLC</h3><p>Each channel starts with one PLC. Use <b>Add Subordinate PLC</b> only for
PLCs reached through a MELSEC network behind the same Ethernet module.</p>
<h3>Add poll records</h3><p>Double-click below the last row of the poll-record list, or
press Insert in the list (its context menu has <b>Add Poll Record</b> too). Enter
the start address (for example <tt>D:100</tt>) and either the end address or the length.
<b>OK</b> keeps the record; <b>New</b> starts another one; <b>Delete</b> removes it.</p>
<h3>Make the driver use the file</h3><p>Save, then choose <b>Reload</b> (Ctrl+R): the driver
stops, reads its start-up file again and starts.</p>)"},
      {"commands", R"(<h2>Commands</h2>
<table border="1" cellpadding="3">
<tr><td>New, Open, Save, Save As</td><td>File commands. Save As and Open choose by extension:
<tt>.HBT</tt> is a configuration, <tt>.CSV</tt> is exported or imported as text.</td></tr>
<tr><td>Reload</td><td>Saves or discards unsaved changes (you are asked), then stops and
restarts the running driver so that it loads its start-up file.</td></tr>
<tr><td>Exit</td><td>Offers to save and to reload before the configurator closes.</td></tr>
<tr><td>Disable Comms Alarms</td><td>The driver keeps communication alarms of the current
channel to itself.</td></tr>
<tr><td>Learn Addresses</td><td>Addresses the host asks for and cannot find become poll
records of the current channel's PLCs.</td></tr>
<tr><td>Save Log File</td><td>The driver writes its messages to HBT_LOG.TXT.</td></tr>
</table>)"},
      {"keyboard", R"(<h2>Keyboard</h2>
<table border="1" cellpadding="3">
<tr><td>Ctrl+N</td><td>New</td></tr><tr><td>Ctrl+O</td><td>Open</td></tr>
<tr><td>Ctrl+S, F11</td><td>Save</td></tr><tr><td>F12</td><td>Save As</td></tr>
<tr><td>Ctrl+R</td><td>Reload</td></tr><tr><td>F1, Shift+F1</td><td>Help</td></tr>
<tr><td>Tab</td><td>Next field; a field you typed in is checked when you leave it</td></tr>
<tr><td>Escape</td><td>Cancel a dialog; nothing typed is checked or kept</td></tr>
<tr><td>Insert</td><td>In the poll-record list: add a poll record</td></tr>
<tr><td>Enter</td><td>In the poll-record list: edit the current poll record</td></tr></table>)"},
      {"glossary", R"(<h2>Glossary</h2><dl>
<dt>Channel</dt><dd>One Ethernet connection (IP address and port) to a PLC's Ethernet module.</dd>
<dt>Device, PLC</dt><dd>A programmable controller reached through a channel.</dd>
<dt>Poll record, I/O block</dt><dd>A run of PLC registers read together on a poll time.</dd>
<dt>Poll time</dt><dd>Seconds between reads of a poll record.</dd>
<dt>Access time</dt><dd>Seconds a poll record keeps being read after the host last used it.</dd>
<dt>Dead band</dt><dd>The change a value must make before the host is told of it.</dd>
<dt>TX, RX</dt><dd>Requests sent and replies received on the current channel.</dd></dl>)"},
      {"using", R"(<h2>Using Help</h2><p>Choose a topic from the Help menu or press F1. Links
lead to the other topics.</p>)"},
  };
  return kPages;
}

}  // namespace

void show_help(QWidget* parent, const QString& topic) {
  auto* dialog = new QDialog(parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle("I/O Driver Configurator Help");
  auto* layout = new QVBoxLayout(dialog);
  auto* browser = new QTextBrowser(dialog);
  browser->setOpenLinks(false);
  auto show = [browser](const QString& name) {
    auto it = pages().find(name);
    browser->setHtml(it == pages().end() ? pages().at("contents") : it->second);
  };
  QObject::connect(browser, &QTextBrowser::anchorClicked, browser, [show](const QUrl& url) { show(url.toString()); });
  show(topic);
  layout->addWidget(browser);
  dialog->resize(560, 420);
  dialog->show();
}

}  // namespace hbt::editor::ui
