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
