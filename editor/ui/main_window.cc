#include "editor/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <cstdlib>

#include "editor/file_commands.h"
#include "editor/instance_key.h"
#include "editor/ui/dialogs.h"

namespace hbt::editor::ui {

namespace {

std::string home_folder() {
  const char* home = std::getenv("HOME");
  return home ? std::string(home) + "/" : std::string("./");
}

// Help Contents: a blue disc with a white question mark. The style's own help icon is a
// red cross in some themes, which beside Exit reads as "close".
QIcon help_icon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 100, 200));
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(size * 3 / 4);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, "?");
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

MainWindow::MainWindow(AppPort* port, DriverLink* link, HostSettings* settings)
    : port_(port), link_(link), settings_(settings) {
  if (!port_) {
    own_port_ = std::make_unique<QtAppPort>(this);
    port_ = own_port_.get();
  }
  if (!settings_) {
    own_settings_ = std::make_unique<RegistryHostSettings>();
    settings_ = own_settings_.get();
  }
  if (!link_) {
    // NIOLIB's alarms (code 70) are shown in a message box of their own caption.
    sink_ = std::make_unique<EditorNiolibSink>([this](const std::string& text) {
      port_->message_box(text, kNiolibAlarmCaption, Buttons::Ok, Icon::Error);
    });
    own_link_ = std::make_unique<NiolibDriverLink>(*sink_);
    link_ = own_link_.get();
  }
  live_ = std::make_unique<LiveStatus>(*link_);
  commands_ = std::make_unique<EditorCommands>(doc_, *port_, *settings_, *link_, home_folder());

  normal_icon_ = style()->standardIcon(QStyle::SP_FileIcon);
  alarm_icon_ = style()->standardIcon(QStyle::SP_MessageBoxWarning);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  form_ = new ConfigForm(*commands_, *live_, splitter);
  message_view_ = new QListWidget(splitter);
  message_view_->setObjectName("CMessages");
  message_view_->setStyleSheet("QListWidget { color: blue; background: white; }");
  message_view_->setIconSize(QSize(16, 16));
  splitter->addWidget(form_);
  splitter->addWidget(message_view_);
  splitter->setStretchFactor(0, 5);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({350 * 2, 75 * 2});
  setCentralWidget(splitter);

  message_pane_ = new QLabel(this);
  spare_pane_ = new QLabel(this);
  spare_pane_->setFixedWidth(250);
  clock_pane_ = new QLabel(this);
  statusBar()->addWidget(message_pane_, 1);
  statusBar()->addPermanentWidget(spare_pane_);
  statusBar()->addPermanentWidget(clock_pane_);
  statusBar()->addPermanentWidget(new QLabel("CAP", this));
  statusBar()->addPermanentWidget(new QLabel("NUM", this));

  build_menus();
  connect(form_, &ConfigForm::document_changed, this, [this] {
    update_title();
    show_states_now();  // rows may have come or gone
  });
  connect(form_, &ConfigForm::selection_changed, this, [this] {
    show_states_now();
    update_option_checks();
    update_title();  // selecting a channel that did not exist adds it
  });
  status_timer_.setInterval(2000);
  message_timer_.setInterval(250);
  connect(&status_timer_, &QTimer::timeout, this, &MainWindow::status_tick);
  connect(&message_timer_, &QTimer::timeout, this, &MainWindow::message_tick);
  resize(1000, 700);
}

MainWindow::~MainWindow() {
  // The views read the document, which as a member goes before the child widgets would.
  status_timer_.stop();
  message_timer_.stop();
  delete takeCentralWidget();
}

QAction* MainWindow::action(const QString& name) const { return findChild<QAction*>(name); }

void MainWindow::build_menus() {
  auto make = [this](const QString& name, const QString& text, auto slot,
                     QList<QKeySequence> keys = {}) {
    auto* a = new QAction(text, this);
    a->setObjectName(name);
    if (!keys.isEmpty()) a->setShortcuts(keys);
    connect(a, &QAction::triggered, this, slot);
    addAction(a);  // shortcuts work while the menu bar or toolbar is hidden
    return a;
  };
  QStyle* s = style();
  auto* new_doc = make("new", "&New\tCtrl+N", [this] { commands_->new_document(); show_if_replaced(); },
                       {QKeySequence("Ctrl+N")});
  new_doc->setIcon(s->standardIcon(QStyle::SP_FileIcon));
  auto* open = make("open", "&Open...\tCtrl+O", [this] { commands_->open(); show_if_replaced(); },
                    {QKeySequence("Ctrl+O")});
  open->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
  auto* save = make("save", "&Save\tCtrl+S", [this] { commands_->save(); update_title(); update_option_checks(); },
                    {QKeySequence("Ctrl+S"), QKeySequence("F11")});
  save->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  auto* save_as = make("save_as", "Save &As...", [this] { commands_->save_as(); update_title(); update_option_checks(); },
                       {QKeySequence("F12")});
  save_as->setIcon(s->standardIcon(QStyle::SP_DriveFDIcon));
  auto* reload = make("reload", "&Reload\tCtrl+R", [this] { commands_->reload(); show_if_replaced(); },
                      {QKeySequence("Ctrl+R")});
  reload->setIcon(s->standardIcon(QStyle::SP_BrowserReload));
  auto* exit = make("exit", "E&xit", [this] { close(); });
  exit->setIcon(s->standardIcon(QStyle::SP_DialogCloseButton));

  QMenu* file = menuBar()->addMenu("&File");
  file->addActions({new_doc, open, save, save_as});
  file->addSeparator();
  file->addAction(reload);
  file->addSeparator();
  for (int i = 0; i < kRecentFiles; ++i) {
    auto* recent = new QAction(this);
    recent->setObjectName(QString("recent%1").arg(i + 1));
    connect(recent, &QAction::triggered, this, [this, i] {
      const auto& files = doc_.recent_files();
      if (static_cast<std::size_t>(i) >= files.size()) return;
      std::string path = files[static_cast<std::size_t>(i)];
      if (!confirm_discard(doc_, *port_, *settings_, static_cast<std::uint32_t>(std::time(nullptr)), home_folder())) return;
      open_by_extension(doc_, path, *port_, *settings_);
      show_if_replaced();
    });
    recent_actions_.push_back(recent);
    file->addAction(recent);
  }
  file->addSeparator();
  file->addAction(exit);

  QMenu* view = menuBar()->addMenu("&View");
  toolbar_ = addToolBar("Toolbar");
  toolbar_->setObjectName("toolbar");
  auto* show_toolbar = view->addAction("&Toolbar");
  show_toolbar->setObjectName("view_toolbar");
  show_toolbar->setCheckable(true);
  show_toolbar->setChecked(true);
  connect(show_toolbar, &QAction::toggled, toolbar_, &QToolBar::setVisible);
  auto* show_status = view->addAction("&Status Bar");
  show_status->setObjectName("view_status_bar");
  show_status->setCheckable(true);
  show_status->setChecked(true);
  connect(show_status, &QAction::toggled, statusBar(), &QStatusBar::setVisible);

  QMenu* options = menuBar()->addMenu("&Options");
  auto* alarms = options->addAction("Disable Comms Alarms");
  alarms->setObjectName("disable_comms_alarms");
  alarms->setCheckable(true);
  connect(alarms, &QAction::triggered, this, [this] {
    commands_->toggle_disable_comms_alarms();
    update_option_checks();
    update_title();
  });
  auto* learn = options->addAction("Learn Addresses");
  learn->setObjectName("learn_addresses");
  learn->setCheckable(true);
  connect(learn, &QAction::triggered, this, [this] {
    commands_->toggle_learn_addresses();
    update_option_checks();
  });
  auto* log = options->addAction("Save Log File");
  log->setObjectName("save_log_file");
  connect(log, &QAction::triggered, this, [this] { commands_->save_log_file(); });
  auto* import = options->addAction("Import Addresses");  // kept for the menu's shape; no action
  import->setObjectName("import_addresses");
  import->setEnabled(false);

  QMenu* help = menuBar()->addMenu("&Help");
  struct Topic { const char* name; const char* text; const char* page; };
  const Topic topics[] = {{"help_contents", "&Contents", "contents"},   {"help_procedures", "&Procedures", "procedures"},
                          {"help_commands", "C&ommands", "commands"},   {"help_keyboard", "&Keyboard", "keyboard"},
                          {"help_glossary", "&Glossary", "glossary"},   {"help_using", "&Using Help", "using"}};
  for (const Topic& t : topics) {
    auto* a = help->addAction(t.text);
    a->setObjectName(t.name);
    QString page = t.page;
    connect(a, &QAction::triggered, this, [this, page] { show_help(this, page); });
  }
  QAction* contents = action("help_contents");
  contents->setShortcuts({QKeySequence("F1"), QKeySequence("Shift+F1")});
  contents->setIcon(help_icon());
  addAction(contents);
  help->addSeparator();
  auto* about = help->addAction("&About...");
  about->setObjectName("about");
  connect(about, &QAction::triggered, this, [this] {
    AboutDialog dialog(QString::fromStdString(host_value("NODENAME")), QString::fromStdString(host_value("BASPATH")),
                       QString::fromStdString(host_value("PDBPATH")), this);
    dialog.exec();
  });

  toolbar_->addActions({new_doc, open, save, save_as});
  toolbar_->addSeparator();
  toolbar_->addSeparator();
  toolbar_->addAction(reload);
  toolbar_->addSeparator();
  toolbar_->addSeparator();
  toolbar_->addAction(exit);
  toolbar_->addSeparator();
  toolbar_->addSeparator();
  toolbar_->addAction(contents);
  update_recent();
}

void MainWindow::start() {
  commands_->open_startup_file();
  live_->start();
  document_replaced();
  status_timer_.start();
  message_timer_.start();
}

void MainWindow::document_replaced() {
  shown_contents_ = doc_.contents_generation();
  form_->reload_document();
  show_states_now();
  update_title();
  update_recent();
  update_option_checks();
}

void MainWindow::show_if_replaced() {
  if (doc_.contents_generation() != shown_contents_) document_replaced();
  else update_title();
}

void MainWindow::show_states_now() {
  live_->forget_rows();
  form_->redraw_rows(live_->read_rows(doc_));
}

void MainWindow::update_title() {
  // "[*]" is where Qt shows the "*" of unsaved changes.
  setWindowTitle(QString("%1 Configuration - %2 - %3[*]")
                     .arg(QString::fromUtf8(kProductName.data(), kProductName.size()), QString(),
                          QString::fromStdString(doc_.path().empty() ? doc_.title() : doc_.path())));
  setWindowModified(doc_.modified());
}

void MainWindow::update_recent() {
  const auto& files = doc_.recent_files();
  for (std::size_t i = 0; i < recent_actions_.size(); ++i) {
    bool used = i < files.size();
    recent_actions_[i]->setVisible(used);
    if (used) recent_actions_[i]->setText(QString("&%1 %2").arg(i + 1).arg(QString::fromStdString(files[i])));
  }
}

void MainWindow::update_option_checks() {
  action("disable_comms_alarms")->setChecked(commands_->comms_alarms_disabled());
  action("learn_addresses")->setChecked(commands_->learning_addresses());
}

void MainWindow::status_tick() {
  QElapsedTimer timer;
  timer.start();
  clock_pane_->setText(QDateTime::currentDateTime().toString("hh:mm AP"));
  update_title();
  LiveStatus::Tick tick = live_->tick(doc_);
  if (tick.traffic) message_pane_->setText(QString::fromStdString(*tick.traffic));
  form_->redraw_rows(tick.changed_rows);
  last_tick_us_ = timer.nsecsElapsed() / 1000;
}

void MainWindow::message_tick() {
  std::size_t dropped = 0;
  int added = commands_->read_messages(messages_, &dropped);
  if (commands_->take_learned_change()) {
    form_->refresh_records();
    show_states_now();
    update_title();
  }
  if (added == 0) return;
  const auto& lines = messages_.lines();
  if (dropped >= static_cast<std::size_t>(message_view_->count()) ||
      static_cast<std::size_t>(added) >= lines.size()) {
    message_view_->clear();
    dropped = 0;
    added = static_cast<int>(lines.size());
  }
  for (std::size_t i = 0; i < dropped; ++i) delete message_view_->takeItem(0);
  for (std::size_t i = lines.size() - static_cast<std::size_t>(added); i < lines.size(); ++i) {
    auto* item = new QListWidgetItem(lines[i].alarm ? alarm_icon_ : normal_icon_, QString::fromStdString(lines[i].text));
    message_view_->addItem(item);
  }
  message_view_->scrollToBottom();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!commands_->close_requested()) {
    event->ignore();
    update_title();
    return;
  }
  status_timer_.stop();
  message_timer_.stop();
  event->accept();
}

}  // namespace hbt::editor::ui
