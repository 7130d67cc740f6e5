// The configuration form as a person uses it, under QT_QPA_PLATFORM=offscreen: rows of the
// poll-record list that appear and go, where a double-click lands, the keyboard's way to add
// a record, state icons right after a channel or device change, the PLC name field, and the
// poll record dialog's field checks.
#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "editor/ui/dialogs.h"
#include "editor/ui/window_fixture.h"

namespace hbt::editor::ui {

using Field = PollRecordEditor::Field;

namespace {

// Colour at the centre of the state icon the list shows for `row`.
QColor icon_colour(QTreeView* view, int row) {
  QIcon icon = view->model()->data(view->model()->index(row, 0), Qt::DecorationRole).value<QIcon>();
  return icon.pixmap(16, 16).toImage().pixelColor(8, 8);
}
const QColor kGreen(40, 170, 60);
const QColor kRed(210, 40, 40);
const QColor kGrey(150, 150, 150);

}  // namespace

class ConfigFormTest : public QObject {
  Q_OBJECT

 private:
  static void show(WindowFixture& f) {
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
  }
  static QPoint row_centre(WindowFixture& f, int row) {
    return f.view()->visualRect(f.view()->model()->index(row, 0)).center();
  }

 private slots:
  void aRecordAddedBelowTheListIsShownAtOnce() {
    WindowFixture f;
    f.plant();
    show(f);
    QCOMPARE(f.rows_shown(), 3);
    f.port.poll_record_answer = [](PollRecordEditor& e) {
      QVERIFY(e.set_field(Field::Start, "D:500").ok());
      e.press_ok();
    };
    QWidget* viewport = f.view()->viewport();
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 5));
    QCOMPARE(f.port.poll_record_dialogs, 1);
    QCOMPARE(f.rows_shown(), 4);
    QCOMPARE(f.cell(3, 0), QString("4"));
    QCOMPARE(f.cell(3, 1), QString("D:500"));
    QCOMPARE(f.view()->currentIndex().row(), 3);  // the new row is the current one
    QVERIFY(f.view()->viewport()->rect().intersects(f.view()->visualRect(f.view()->currentIndex())));

    // The shown row is the record: a double-click on it edits it, and nothing is added.
    std::string edited;
    f.port.poll_record_answer = [&](PollRecordEditor& e) {
      edited = e.working().get_start_address();
      e.press_cancel();
    };
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, row_centre(f, 3));
    QCOMPARE(edited, std::string("D:500"));
    QCOMPARE(f.rows_shown(), 4);

    // Deleting it in the dialog takes the row away again.
    f.port.poll_record_answer = [](PollRecordEditor& e) { e.press_delete(); };
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, row_centre(f, 3));
    QCOMPARE(f.rows_shown(), 3);
    QCOMPARE(f.doc().current_device()->iorecs().size(), std::size_t{3});
  }

  void aDoubleClickRightOfARowEditsThatRow() {
    WindowFixture f;
    f.plant();
    show(f);
    QWidget* viewport = f.view()->viewport();
    int columns_end = f.view()->header()->length();
    QVERIFY2(columns_end < viewport->width() - 10, "the window is wider than the columns");
    std::string edited;
    f.port.poll_record_answer = [&](PollRecordEditor& e) {
      edited = e.working().get_start_address();
      e.press_cancel();
    };
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(viewport->width() - 5, row_centre(f, 1).y()));
    QCOMPARE(f.port.poll_record_dialogs, 1);
    QCOMPARE(edited, std::string("M:9000"));
    QCOMPARE(f.rows_shown(), 3);
    QVERIFY(!f.doc().modified());
  }

  void insertAndTheContextMenuAddARecordWhenTheListIsFull() {
    WindowFixture f;
    f.plant();
    CDevice* device = f.doc().current_device();
    for (int i = 0; i < 20; ++i) testing::add_record(device, "D:" + std::to_string(1000 + 10 * i), "10");
    f.form()->refresh_records();
    show(f);
    // Full: the last laid-out row reaches past the bottom, so there is no space below it.
    QVERIFY(f.view()->visualRect(f.view()->model()->index(22, 0)).bottom() > f.view()->viewport()->height());

    f.port.poll_record_answer = [](PollRecordEditor& e) {
      QVERIFY(e.editing_new() || e.working().length() == 0);
      QVERIFY(e.set_field(Field::Start, "R:7").ok());
      e.press_ok();
    };
    f.view()->setFocus();
    QTest::keyClick(f.view(), Qt::Key_Insert);
    QCOMPARE(f.port.poll_record_dialogs, 1);
    QCOMPARE(f.rows_shown(), 24);
    QCOMPARE(f.cell(23, 1), QString("R:7"));
    QCOMPARE(f.view()->currentIndex().row(), 23);
    QVERIFY2(f.view()->viewport()->rect().intersects(f.view()->visualRect(f.view()->currentIndex())),
             "scrolled into view");

    // The same from the list's context menu, and Enter edits the current row.
    QAction* add = f.window->action("add_poll_record");
    QAction* edit = f.window->action("edit_poll_record");
    QVERIFY(add && edit);
    QVERIFY(f.view()->actions().contains(add));
    QVERIFY(f.view()->actions().contains(edit));
    QCOMPARE(f.view()->contextMenuPolicy(), Qt::ActionsContextMenu);
    f.port.poll_record_answer = [](PollRecordEditor& e) {
      QVERIFY(e.set_field(Field::Start, "R:20").ok());
      e.press_ok();
    };
    add->trigger();
    QCOMPARE(f.rows_shown(), 25);
    // An addition given up leaves the list and its current row as they were.
    f.view()->setCurrentIndex(f.view()->model()->index(2, 0));
    f.port.poll_record_answer = [](PollRecordEditor& e) { e.press_cancel(); };
    QTest::keyClick(f.view(), Qt::Key_Insert);
    QCOMPARE(f.rows_shown(), 25);
    QCOMPARE(f.view()->currentIndex().row(), 2);
    std::string edited;
    f.port.poll_record_answer = [&](PollRecordEditor& e) {
      edited = e.working().get_start_address();
      e.press_cancel();
    };
    f.view()->setCurrentIndex(f.view()->model()->index(1, 0));
    QTest::keyClick(f.view(), Qt::Key_Return);
    QCOMPARE(edited, std::string("M:9000"));
    QCOMPARE(f.rows_shown(), 25);
  }

  void statesShowAtOnceAfterAChannelOrDeviceChange() {
    WindowFixture f;
    f.two_channel_plant();
    f.driver.channels = 2;
    f.driver.records = 6;
    f.driver.statuses = {{0, 0}, {1, 0}, {2, 0}, {3, 4293}, {4, 4293}, {5, 0}};
    f.window->status_tick();
    QCOMPARE(icon_colour(f.view(), 0), kGreen);

    f.form()->channel_button(2)->click();
    QCOMPARE(f.cell(0, 1), QString("D:10"));
    QCOMPARE(icon_colour(f.view(), 0), kRed);
    QCOMPARE(icon_colour(f.view(), 1), kGreen);

    f.form()->channel_button(1)->click();
    f.form()->device_list()->setCurrentRow(1);
    QCOMPARE(f.cell(0, 1), QString("D:0"));
    QCOMPARE(icon_colour(f.view(), 0), kRed);

    // Without a driver the rows are grey, at once as well.
    f.driver.readable = false;
    f.form()->device_list()->setCurrentRow(0);
    QCOMPARE(icon_colour(f.view(), 0), kGrey);
  }

  void anEmptyPlcNameIsRefused() {
    WindowFixture f;
    f.plant();
    QLineEdit* name = f.form()->device_field(0);
    name->setText("");
    emit name->editingFinished();
    QCOMPARE(f.last_box(), std::string("A PLC name must be entered."));
    QCOMPARE(name->text(), QString("PLC1"));
    QCOMPARE(f.doc().current_device()->name(), std::string("PLC1"));
    QCOMPARE(f.form()->device_list()->item(0)->text(), QString("PLC1"));
    QVERIFY(!f.doc().modified());
  }

  void untouchedFieldsAreNotCheckedWhenTheFocusMoves() {
    WindowFixture f;
    f.plant();
    auto& device = *f.doc().current_device();
    auto fresh = std::make_unique<CDrvSpecificIORec>();
    fresh->set_device(&device);
    auto& record = static_cast<CDrvSpecificIORec&>(*device.add_iorec(std::move(fresh)));
    PollRecordEditor editor(f.doc(), device, record);
    PollRecordDialog dialog(editor, f.port);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QLineEdit* start = dialog.field(Field::Start);
    start->setFocus();
    for (int i = 0; i < 4; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY2(f.port.boxes.boxes.empty(), f.last_box().c_str());
    QCOMPARE(dialog.field(Field::End)->text(), QString("--Undefined--"));

    // A field the user typed in is checked, and a refusal gives it its old text back.
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, "Q:1");
    QTest::keyClick(start, Qt::Key_Tab);
    QCOMPARE(f.last_box(), std::string("Invalid Register Type"));
    QCOMPARE(start->text(), QString("--Undefined--"));
    QCOMPARE(f.port.boxes.boxes.size(), std::size_t{1});

    // A good start address moves the end; the end field, entered with Tab, stays ready to
    // be typed over.
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, "D:500");
    QTest::keyClick(start, Qt::Key_Tab);
    QLineEdit* end = dialog.field(Field::End);
    QTRY_COMPARE(end->text(), QString("D:500"));
    QCOMPARE(QApplication::focusWidget(), end);
    QCOMPARE(end->selectedText(), QString("D:500"));
    QCOMPARE(f.port.boxes.boxes.size(), std::size_t{1});
    dialog.reject();

    // A dialog opens with the focus on its first field and the text selected, ready to be
    // typed over.
    PollRecordEditor next(f.doc(), device, record);
    PollRecordDialog opened(next, f.port);
    opened.show();
    opened.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&opened));
    QCOMPARE(QApplication::focusWidget(), opened.field(Field::Start));
    QCOMPARE(opened.field(Field::Start)->selectedText(), QString("--Undefined--"));
  }

  void cancelChecksNothingAndCloses() {
    WindowFixture f;
    f.plant();
    auto& device = *f.doc().current_device();
    auto& record = static_cast<CDrvSpecificIORec&>(*device.iorecs()[2]);
    PollRecordEditor editor(f.doc(), device, record);
    PollRecordDialog dialog(editor, f.port);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QLineEdit* start = dialog.field(Field::Start);
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, "D:");  // not an address: checking it would refuse it
    QTest::mouseClick(dialog.cancel_button(), Qt::LeftButton);
    QVERIFY2(f.port.boxes.boxes.empty(), f.last_box().c_str());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(editor.outcome(), PollRecordEditor::Outcome::Cancelled);
    QCOMPARE(record.get_start_address(), std::string("D:100"));

    // Escape is Cancel too.
    PollRecordEditor again(f.doc(), device, record);
    PollRecordDialog second(again, f.port);
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QLineEdit* length = second.field(Field::Length);
    length->setFocus();
    length->selectAll();
    QTest::keyClicks(length, "9999");
    QTest::keyClick(length, Qt::Key_Escape);
    QVERIFY2(f.port.boxes.boxes.empty(), f.last_box().c_str());
    QVERIFY(!second.isVisible());
    QCOMPARE(record.length(), 10);
  }

  void channelDialogCancelChecksNothing() {
    WindowFixture f;
    f.plant();
    CDrvSpecificChannel& channel = *f.doc().channels()[0];
    ChannelDialog dialog(channel, 1, f.port);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.timeout_edit()->setFocus();
    QTest::keyClick(dialog.timeout_edit(), Qt::Key_Tab);
    QTest::keyClick(dialog.delay_edit(), Qt::Key_Tab);
    QVERIFY2(f.port.boxes.boxes.empty(), f.last_box().c_str());
    dialog.retries_edit()->selectAll();
    QTest::keyClicks(dialog.retries_edit(), "77");
    auto* cancel = dialog.findChild<QPushButton*>("cancel");
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY2(f.port.boxes.boxes.empty(), f.last_box().c_str());
    QVERIFY(!dialog.isVisible());
    QVERIFY(!dialog.changed());
  }
};

}  // namespace hbt::editor::ui

QTEST_MAIN(hbt::editor::ui::ConfigFormTest)
#include "config_form_test.moc"
