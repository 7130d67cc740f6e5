// The windows under QT_QPA_PLATFORM=offscreen: menus and accelerators, the form's fields
// and list, each dialog's fields, and the live status drawn from a test driver.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QWindow>
#include <filesystem>

#include "editor/file_commands.h"
#include "editor/ui/config_form.h"
#include "editor/ui/dialogs.h"
#include "editor/ui/window_fixture.h"

namespace hbt::editor::ui {

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  using Fixture = WindowFixture;

 private slots:
  void menusCarryTheirTextsAndAccelerators() {
    Fixture f;
    auto keys = [&](const char* name) { return f.window->action(name)->shortcuts(); };
    QCOMPARE(f.window->action("new")->text(), QString("&New\tCtrl+N"));
    QCOMPARE(f.window->action("open")->text(), QString("&Open...\tCtrl+O"));
    QCOMPARE(f.window->action("save")->text(), QString("&Save\tCtrl+S"));
    QCOMPARE(f.window->action("save_as")->text(), QString("Save &As..."));
    QCOMPARE(f.window->action("reload")->text(), QString("&Reload\tCtrl+R"));
    QCOMPARE(f.window->action("exit")->text(), QString("E&xit"));
    QVERIFY(keys("new").contains(QKeySequence("Ctrl+N")));
    QVERIFY(keys("open").contains(QKeySequence("Ctrl+O")));
    QVERIFY(keys("reload").contains(QKeySequence("Ctrl+R")));
    QVERIFY(keys("save").contains(QKeySequence("Ctrl+S")));
    QVERIFY(keys("save").contains(QKeySequence("F11")));
    QVERIFY(keys("save_as").contains(QKeySequence("F12")));
    QVERIFY(keys("help_contents").contains(QKeySequence("F1")));
    QVERIFY(keys("help_contents").contains(QKeySequence("Shift+F1")));
    QCOMPARE(f.window->action("disable_comms_alarms")->text(), QString("Disable Comms Alarms"));
    QCOMPARE(f.window->action("learn_addresses")->text(), QString("Learn Addresses"));
    QCOMPARE(f.window->action("save_log_file")->text(), QString("Save Log File"));
    QCOMPARE(f.window->action("import_addresses")->text(), QString("Import Addresses"));
    QStringList help;
    for (const char* n : {"help_contents", "help_procedures", "help_commands", "help_keyboard", "help_glossary",
                          "help_using", "about"}) {
      help << f.window->action(n)->text();
    }
    QCOMPARE(help, QStringList({"&Contents", "&Procedures", "C&ommands", "&Keyboard", "&Glossary", "&Using Help",
                                "&About..."}));
    // Toolbar: New, Open, Save, Save As, 2 separators, Reload, 2, Exit, 2, Help Contents.
    QStringList bar;
    for (QAction* a : f.window->findChild<QToolBar*>("toolbar")->actions()) {
      bar << (a->isSeparator() ? QString("|") : a->objectName());
    }
    QCOMPARE(bar, QStringList({"new", "open", "save", "save_as", "|", "|", "reload", "|", "|", "exit", "|", "|",
                               "help_contents"}));
  }

  void acceleratorsReachTheCommands() {
    Fixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    f.window->activateWindow();
    QTest::keyClick(f.window.get(), Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(f.last_box(), std::string("Driver not Started Not Started!"));
    // Ctrl+S on a document without a file asks for one (the scripted dialog cancels).
    QTest::keyClick(f.window.get(), Qt::Key_F11);
    QCOMPARE(f.port.boxes.dialogs.size(), std::size_t{1});
    QVERIFY(f.port.boxes.dialogs[0].save);
    QTest::keyClick(f.window.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(f.port.boxes.dialogs.size(), std::size_t{2});
    QVERIFY(!f.port.boxes.dialogs[1].save);
  }

  void statusBarTitleAndLiveStatus() {
    Fixture f;
    f.plant();
    f.driver.channels = 1;
    f.driver.records = 3;
    f.driver.channel_counters[0] = {100, 99};
    f.driver.statuses = {{0, 0}, {1, 4293}, {2, 4297}};
    f.window->status_tick();
    // Nothing earlier of this channel to compare with: no rate yet.
    QCOMPARE(f.window->message_pane()->text(), QString("TX=100 RX=99 Polls/Sec=0"));
    QVERIFY(f.window->windowTitle().startsWith("Brenlow Ethernet Driver Configuration - "));
    QVERIFY(QRegularExpression("^\\d\\d:\\d\\d (AM|PM)$").match(f.window->clock_pane()->text()).hasMatch());
    f.driver.channel_counters[0] = {110, 109};
    f.window->status_tick();
    QCOMPARE(f.window->message_pane()->text(), QString("TX=110 RX=109 Polls/Sec=5"));
    // The driver stops: counters stay, rows lose their state.
    f.driver.readable = false;
    f.window->status_tick();
    QCOMPARE(f.window->message_pane()->text(), QString("TX=110 RX=109 Polls/Sec=5"));
  }

  void pollsPerSecondNeverComparesAnotherChannelOrRun() {
    Fixture f;
    f.two_channel_plant();
    f.driver.channels = 2;
    f.driver.records = 6;
    f.driver.channel_counters[0] = {1128, 1128};
    f.driver.channel_counters[1] = {40, 40};
    f.window->status_tick();
    f.driver.channel_counters[0] = {1148, 1148};
    f.window->status_tick();
    QCOMPARE(f.window->message_pane()->text(), QString("TX=1148 RX=1148 Polls/Sec=10"));
    // Another channel: its count has nothing to do with channel 1's.
    f.form()->channel_button(2)->click();
    f.window->status_tick();
    QCOMPARE(f.window->message_pane()->text(), QString("TX=40 RX=40 Polls/Sec=0"));
    f.driver.channel_counters[1] = {60, 60};
    f.window->status_tick();
    QCOMPARE(f.window->message_pane()->text(), QString("TX=60 RX=60 Polls/Sec=10"));
    // The poller restarts: the alive counter begins again and so do the channel counters.
    f.driver.alive_counter = 100;
    f.driver.channel_counters[1] = {80, 80};
    f.window->status_tick();
    f.driver.alive_counter = 5;
    f.driver.channel_counters[1] = {20, 20};
    f.window->status_tick();
    QCOMPARE(f.window->message_pane()->text(), QString("TX=20 RX=20 Polls/Sec=0"));
    // A reload loads another image generation, with counters from zero.
    f.driver.alive_counter = 200;
    f.driver.channel_counters[1] = {100, 100};
    f.window->status_tick();
    QCOMPARE(f.window->message_pane()->text(), QString("TX=100 RX=100 Polls/Sec=40"));
    f.driver.generation = 2;
    f.driver.channel_counters[1] = {30, 30};
    f.window->status_tick();
    QCOMPARE(f.window->message_pane()->text(), QString("TX=30 RX=30 Polls/Sec=0"));
  }

  void aFailedOpenShowsTheEmptiedDocument() {
    Fixture f;
    QTemporaryDir dir;
    std::string good = dir.filePath("GOOD.HBT").toStdString();
    std::string bad = dir.filePath("BAD.HBT").toStdString();
    f.plant();
    QVERIFY(save_configuration(f.doc(), good, f.port, f.settings, 0));
    std::filesystem::copy_file(good, bad);
    std::filesystem::resize_file(bad, 150);  // cut inside the channel table
    f.window->show();
    QCOMPARE(f.form()->device_list()->item(0)->text(), QString("PLC1"));

    f.port.boxes.script_files({bad});
    f.window->action("open")->trigger();
    QCOMPARE(f.last_box(), std::string("File Open Error"));
    // The window shows what the document holds now, not what it held before.
    CDrvSpecificChannel* channel = f.doc().current_channel();
    QVERIFY(channel != nullptr);
    QCOMPARE(f.form()->device_list()->count(), static_cast<int>(channel->devices().size()));
    for (int i = 0; i < f.form()->device_list()->count(); ++i) {
      QCOMPARE(f.form()->device_list()->item(i)->text().toStdString(), channel->devices()[std::size_t(i)]->name());
    }
    QVERIFY(f.form()->device_list()->findItems("PLC1", Qt::MatchExactly).isEmpty());
    QCOMPARE(f.form()->device_field(0)->text().toStdString(), f.doc().current_device()->name());
    QCOMPARE(f.rows_shown(), 0);
    QVERIFY(f.form()->channel_button(1)->isChecked());
    QVERIFY(!f.window->windowTitle().contains("GOOD.HBT"));

    // The file that was open is no longer the document's: Save asks where to.
    f.window->action("save")->trigger();
    QCOMPARE(f.port.boxes.dialogs.size(), std::size_t{2});
    QVERIFY(f.port.boxes.dialogs.back().save);
    QVERIFY(std::filesystem::file_size(good) > 136u);
  }

  void titleMarksUnsavedChanges() {
    Fixture f;
    f.plant();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    f.window->status_tick();
    QString shown = f.window->windowHandle()->title();
    QVERIFY2(shown.startsWith("Brenlow Ethernet Driver Configuration - ") && !shown.contains('*'),
             qPrintable(shown));
    QLineEdit* description = f.form()->device_field(1);
    description->setText("Line 2");
    emit description->editingFinished();
    shown = f.window->windowHandle()->title();
    QVERIFY2(shown.endsWith("*"), qPrintable(shown));
    // Adding a channel by selecting it is a change too.
    f.doc().set_modified(false);
    f.form()->channel_button(4)->click();
    QVERIFY2(f.window->windowHandle()->title().endsWith("*"), qPrintable(f.window->windowHandle()->title()));
    QTemporaryDir dir;
    f.port.boxes.script_files({dir.filePath("SAVED.HBT").toStdString()});
    f.window->action("save")->trigger();
    shown = f.window->windowHandle()->title();
    QVERIFY2(shown.endsWith("SAVED.HBT"), qPrintable(shown));
  }

  void helpIconIsNotARedCross() {
    Fixture f;
    QAction* help = f.window->action("help_contents");
    QImage image = help->icon().pixmap(24, 24).toImage().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!image.isNull());
    int red = 0;
    int blue = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        QColor c = image.pixelColor(x, y);
        if (c.alpha() < 128) continue;
        if (c.red() > 150 && c.red() > c.green() + 60 && c.red() > c.blue() + 60) ++red;
        if (c.blue() > 120 && c.blue() > c.red() + 40) ++blue;
      }
    }
    QCOMPARE(red, 0);
    QVERIFY2(blue > 50, "a blue question mark disc");
    QVERIFY(help->icon().cacheKey() != f.window->action("exit")->icon().cacheKey());
  }

  void recordListHasNineColumnsAndFormattedRows() {
    Fixture f;
    f.plant();
    auto* model = f.window->form()->record_model();
    QStringList headers;
    for (int c = 0; c < model->columnCount(); ++c) headers << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    QCOMPARE(headers, QStringList({"I/O Blocks", "Start", "End", "Length", "Data Type", "Poll Time", "Access Time",
                                   "Exception Type", "Dead Band"}));
    QCOMPARE(model->rowCount(), 3);
    auto* record = f.doc().current_device()->iorecs()[2].get();
    QVERIFY(record->set_deadband("2.5").ok());
    QStringList row = poll_record_row(*record, 2);
    QCOMPARE(row[5], QString("     1.0"));
    QCOMPARE(row[6], QString("Disabled"));  // exception-based records are not aged out
    QCOMPARE(poll_record_row(*f.doc().current_device()->iorecs()[1], 1)[6], QString("   300.0"));
    QVERIFY(record->set_poll_time("Disabled").ok() || record->set_poll_time("-1").ok());
    row = poll_record_row(*record, 2);
    QCOMPARE(row[0], QString("3"));
    QCOMPARE(row[1], QString("D:100"));
    QCOMPARE(row[2], QString("D:109"));
    QCOMPARE(row[3], QString("10"));
    QCOMPARE(row[5], QString("Disabled"));
    QCOMPARE(row[8], QString("    2.5"));
  }

  void deviceFieldsAreCheckedWhenTheyLoseTheFocus() {
    Fixture f;
    f.plant();
    ConfigForm* form = f.window->form();
    QLineEdit* pc = form->device_field(2);
    QCOMPARE(pc->text(), QString("255"));
    pc->setText("99");
    emit pc->editingFinished();
    QCOMPARE(f.last_box(), std::string("Invalid plc address, valid range 0 - 64 or 255"));
    QCOMPARE(pc->text(), QString("255"));
    QVERIFY(!f.doc().modified());
    QLineEdit* name = form->device_field(0);
    name->setText("PLC7");
    emit name->editingFinished();
    QCOMPARE(f.doc().current_device()->name(), std::string("PLC7"));
    QCOMPARE(form->device_list()->currentItem()->text(), QString("PLC7"));
    QVERIFY(f.doc().modified());
    name->setText("bad name");
    emit name->editingFinished();
    QCOMPARE(name->text(), QString("PLC7"));
  }

  void channelSelectorsAndDeviceButtons() {
    Fixture f;
    f.plant();
    ConfigForm* form = f.window->form();
    QCOMPARE(form->channel_button(5)->toolTip(), QString("Select channel 5 for display/edit"));
    QVERIFY(form->channel_button(1)->isChecked());
    form->channel_button(3)->click();
    QVERIFY(form->channel_button(3)->isChecked());
    QCOMPARE(f.doc().current_channel(), f.doc().channels()[2].get());
    QCOMPARE(form->setup_button()->text(), QString("Setup the Selected Channel"));
    form->channel_button(1)->click();
    int devices = form->device_list()->count();
    f.port.device_names = {std::string("NEWPLC")};
    form->add_device_button()->click();
    QCOMPARE(form->device_list()->count(), devices + 1);
    QCOMPARE(form->device_list()->currentItem()->text(), QString("NEWPLC"));
    f.port.boxes.script({Answer::Yes});
    form->delete_device_button()->click();
    QCOMPARE(form->device_list()->count(), devices);
  }

  void doubleClickBelowTheLastRowAndCancelChangesNothing() {
    Fixture f;
    f.plant();
    ConfigForm* form = f.window->form();
    std::size_t before = f.doc().current_device()->iorecs().size();
    f.port.poll_record_answer = [](PollRecordEditor& e) {
      e.set_field(PollRecordEditor::Field::Start, "D:3000");
      e.press_cancel();
    };
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QWidget* viewport = form->record_view()->viewport();
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 5));
    QCOMPARE(f.port.poll_record_dialogs, 1);
    QCOMPARE(f.doc().current_device()->iorecs().size(), before);
    QCOMPARE(form->record_model()->rowCount(), static_cast<int>(before));
    QVERIFY(!f.doc().modified());
  }

  void channelDialogChecksFieldsAndCopiesBackOnOk() {
    Fixture f;
    f.plant();
    CDrvSpecificChannel& channel = *f.doc().channels()[0];
    ChannelDialog dialog(channel, 2, f.port);
    QCOMPARE(dialog.windowTitle(), QString("Channel 2 Communication Settings"));
    QString timeout = dialog.timeout_edit()->text();
    dialog.timeout_edit()->setText("0");
    emit dialog.timeout_edit()->editingFinished();
    QVERIFY(!f.last_box().empty());
    QCOMPARE(dialog.timeout_edit()->text(), timeout);
    dialog.ip_edit()->setText("10.1.2.3");
    emit dialog.ip_edit()->editingFinished();
    dialog.port_edit()->setText("5001");
    emit dialog.port_edit()->editingFinished();
    dialog.protocol_combo()->setCurrentText("TCP");
    QVERIFY2(channel.get_ip_address() != "10.1.2.3", "the dialog edits a copy");
    dialog.accept();
    QVERIFY(dialog.changed());
    QCOMPARE(channel.get_ip_address(), std::string("10.1.2.3"));
    QCOMPARE(channel.ip_port(), 5001u);
    QCOMPARE(channel.ip_protocol(), 1u);
    ChannelDialog unchanged(channel, 2, f.port);
    unchanged.accept();
    QVERIFY(!unchanged.changed());
  }

  void pollRecordDialogKeepsOpenOnEnterAndClosesOnOk() {
    Fixture f;
    f.plant();
    auto& device = *f.doc().current_device();
    auto& record = static_cast<CDrvSpecificIORec&>(*device.iorecs()[2]);
    PollRecordEditor editor(f.doc(), device, record);
    PollRecordDialog dialog(editor, f.port);
    QCOMPARE(dialog.windowTitle(), QString("Poll Record Edit"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QLineEdit* length = dialog.field(PollRecordEditor::Field::Length);
    length->setFocus();
    length->selectAll();
    QTest::keyClicks(length, "20");
    QTest::keyClick(length, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QCOMPARE(editor.outcome(), PollRecordEditor::Outcome::Open);
    QTRY_COMPARE(dialog.field(PollRecordEditor::Field::End)->text(), QString("D:119"));
    QStringList types;
    for (int i = 0; i < dialog.data_type_combo()->count(); ++i) types << dialog.data_type_combo()->itemText(i);
    QCOMPARE(types, QStringList({"Unsigned", "Signed", "Float", "Long Signed", "Long Unsigned", "ASCII", "Digital"}));
    dialog.ok_button()->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(editor.outcome(), PollRecordEditor::Outcome::Accepted);
    QCOMPARE(record.length(), 20);
    QVERIFY(f.doc().modified());
  }

  void exitDialogStatesAndAddDeviceDialog() {
    ExitDialog none({true, false, false});
    QCOMPARE(none.windowTitle(), QString("I/O Driver Configurator"));
    QVERIFY(none.save_box()->isChecked());
    QVERIFY(!none.reload_box()->isEnabled());
    QVERIFY(!none.reload_box()->isChecked());
    ExitDialog after_save({false, true, true});
    QVERIFY(!after_save.save_box()->isChecked());
    QVERIFY(after_save.reload_box()->isChecked());
    after_save.save_box()->setChecked(true);
    QCOMPARE(after_save.choices(), (ExitChoices{true, true, true}));
    AddDeviceDialog add("M12");
    QCOMPARE(add.windowTitle(), QString("Add Device"));
    QCOMPARE(add.name(), QString("M12"));
  }

  void messageWindowKeeps200LinesWithAlarmIcons() {
    Fixture f;
    for (int i = 0; i < 150; ++i) f.driver.messages.push_back({7, "line " + std::to_string(i)});
    f.window->message_tick();
    QCOMPARE(f.window->message_view()->count(), 150);
    for (int i = 150; i < 201; ++i) f.driver.messages.push_back({static_cast<std::uint16_t>(i == 200 ? 94 : 7), "line " + std::to_string(i)});
    f.window->message_tick();
    QCOMPARE(f.window->message_view()->count(), 196);
    QCOMPARE(f.window->message_view()->item(0)->text(), QString("line 5"));
    QCOMPARE(f.window->message_view()->item(195)->text(), QString("line 200"));
  }

  void closingWithChangesAsks() {
    Fixture f;
    f.plant();
    f.doc().set_modified(true);
    f.window->show();
    QVERIFY2(!f.window->close(), "the scripted exit dialog cancels");
    QCOMPARE(f.port.exit_dialogs.size(), std::size_t{1});
    f.doc().set_modified(false);
    QVERIFY(f.window->close());
  }
};

}  // namespace hbt::editor::ui

QTEST_MAIN(hbt::editor::ui::MainWindowTest)
#include "main_window_test.moc"
