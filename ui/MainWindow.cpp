#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDBusConnection>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/HostSummary.h"
#include "core/Presentation.h"
#include "ui/AboutBox.h"
#include "ui/BusyCall.h"
#include "ui/ChannelsBox.h"
#include "ui/DesktopNotifier.h"
#include "ui/DigitFilters.h"
#include "ui/DisplayText.h"
#include "ui/FileDialog.h"
#include "ui/GridView.h"
#include "ui/HelpFile.h"
#include "ui/HistoryCommand.h"
#include "ui/HostDialog.h"
#include "ui/ImageList.h"
#include "ui/ListDialog.h"
#include "ui/MessageBox.h"
#include "ui/MuteMenu.h"
#include "ui/QtMessageSink.h"
#include "ui/QtMonitorView.h"
#include "ui/QuietMarks.h"
#include "ui/SpinEdit.h"
#include "ui/TrayIcon.h"

namespace {

const QString kVdmFilter = QStringLiteral("Vardomon Files|*.vdm");

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

std::vector<int> widthsOf(const auto& columns) {
    std::vector<int> out;
    for (const ColumnSpec& c : columns) {
        out.push_back(c.width);
    }
    return out;
}

// The longest texts of the result grid's Type and Status columns.
std::vector<QStringList> resultTexts() {
    ServerItem tcp;
    tcp.type = HostTcpIp;
    tcp.tcpType = TcpConnectSendReceive;
    ServerItem checking;
    checking.status = StatusChecking;
    ServerItem failing;
    failing.consecutiveFailures = 9999;
    return {{},
            {displayText(typeText(tcp))},
            {displayText(statusText(checking)), displayText(statusText(failing))}};
}

}  // namespace

// The window's answers to the application's questions: message boxes, file dialogs and
// the host dialog.
class TForm1::Prompts : public UserQuestions, public FileChooser, public HostEditor {
  public:
    explicit Prompts(TForm1& window) : window_(window) {}

    bool askYesNo(const std::string& text) override {
        return MessageBox::question(&window_, displayText(text));
    }
    void showMessage(const std::string& text) override {
        MessageBox::information(&window_, displayText(text));
    }
    std::optional<std::string> chooseOpenPath() override {
        return chosen(FileDialog::getOpenFileName(&window_, kVdmFilter));
    }
    std::optional<std::string> chooseSavePath() override {
        return chosen(FileDialog::getSaveFileName(&window_, kVdmFilter));
    }
    bool editHost(ServerItem& record) override {
        HostEdit beside;
        return editHostWith(record, beside);
    }
    bool editHostWith(ServerItem& record, HostEdit& beside) override {
        window_.hostDlg_->record = record;
        window_.hostDlg_->beside = beside;
        if (window_.hostDlg_->exec() != QDialog::Accepted) {
            return false;
        }
        record = window_.hostDlg_->record;
        beside = window_.hostDlg_->beside;
        return true;
    }

  private:
    static std::optional<std::string> chosen(const QString& name) {
        if (name.isEmpty()) {
            return std::nullopt;
        }
        // File names are bytes in the locale's encoding.
        return QFile::encodeName(name).toStdString();
    }

    TForm1& window_;
};

TForm1::TForm1(const std::string& configPath, const ComponentFactory& makeComponents,
               DialogServices& services, QWidget* parent)
    : QMainWindow(parent),
      resultModel_(new ResultGridModel(kResultColumns, this)),
      hostModel_(new HostGridModel(kHostColumns, this)),
      view_(new QtMonitorView(*resultModel_, *hostModel_, this)),
      messages_(new QtMessageSink(this)),
      notifier_(new DesktopNotifier(QDBusConnection::sessionBus(), this)),
      prompts_(std::make_unique<Prompts>(*this)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Kestrune Vardomon"));
    setWindowIcon(ImageList::appIcon());
    buildActions();
    buildMenus();
    buildToolbar();
    buildPages();

    auto* bar = named(new QStatusBar(this), "sbStatus");
    status_ = named(new QLabel(QStringLiteral("Idle"), bar), "sbStatusText");
    bar->addWidget(status_, 1);
    setStatusBar(bar);

    listDlg_ = new TListDlg(this);
    hostDlg_ = new TAddHostDlg(services, *listDlg_, this);
    aboutBox_ = new TAboutBox(this);

    app_ = std::make_unique<Application>(Application::Ui{*view_, *prompts_, *prompts_, *prompts_, *messages_},
                                         configPath, makeComponents);
    view_->setDocument(app_->document());
    channels_->setConfig(app_->liveConfig());
    messages_->setNotifier(notifier_, [this] { return app_->liveConfig().extra().desktop.notifications; });

    tray_ = new TrayIcon(mnuStart_, mnuCheckNow_, mnuExit_, this);
    connect(tray_, &TrayIcon::showWindow, this, &TForm1::showFromTray);
    buildQuiet();
    history_ = new HistoryCommand(*app_, this, findChild<QMenu*>(QStringLiteral("mnuConfig")), resultlist_,
                                  [this] { return selectedRow(sourceGrid()); });
    connect(resultModel_, &QAbstractItemModel::modelReset, this, &TForm1::updateTray);
    connect(resultModel_, &QAbstractItemModel::dataChanged, this, &TForm1::updateTray);
    // Logging out must not wait for a window that only hides.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { exiting_ = true; });
    connect(view_, &QtMonitorView::statusTextChanged, this, [this](const QString& text) {
        status_->setText(text);
        // Shutdown blocks the event loop while it waits for the monitor: show its text now.
        status_->repaint();
    });

    // The spinner takes the loaded interval before the options are tied to the settings,
    // so placing it cannot change the setting.
    interval_->spinner()->setRange(1, 100);
    interval_->spinner()->setPosition(app_->settings().interval);
    checksAtOnce_->spinner()->setRange(1, MonitorSettings::kMostChecksAtOnce);
    checksAtOnce_->spinner()->setPosition(app_->liveConfig().extra().monitor.checksAtOnce);
    connectOptions();
    showStartStop(false);
    // The design size, or more where the font needs it.
    resize(QSize(665, 479).expandedTo(minimumSizeHint()));
}

TForm1::~TForm1() {
    // The monitor thread must be gone before the view and the models it reports to.
    app_.reset();
}

QString TForm1::statusText() const {
    return status_->text();
}

void TForm1::buildActions() {
    auto make = [this](const char* name, const QString& text, QKeySequence key, int image) {
        auto* a = named(new QAction(text, this), name);
        if (!key.isEmpty()) {
            a->setShortcut(key);
        }
        if (image >= 0) {
            a->setIcon(ImageList::icon(image));
        }
        return a;
    };
    using namespace ImageList::Image;
    mnuNew_ = make("mnuNew", QStringLiteral("&New"), QKeySequence(Qt::CTRL | Qt::Key_N), NewPage);
    mnuOpen_ = make("mnuOpen", QStringLiteral("&Open"), QKeySequence(Qt::CTRL | Qt::Key_O), OpenFolder);
    mnuSave_ = make("mnuSave", QStringLiteral("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S), Floppy);
    mnuSaveAs_ = make("mnuSaveAs", QStringLiteral("Save &As..."), QKeySequence(), -1);
    mnuExit_ = make("mnuExit", QStringLiteral("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_X), -1);
    mnuStart_ = make("mnuStart", QStringLiteral("&Start"), QKeySequence(Qt::Key_F7), LightRed);
    mnuCheckNow_ = make("mnuCheckNow", QStringLiteral("&Check Now"), QKeySequence(Qt::Key_F5), BlueArrow);
    mnuAddServer_ =
        make("AddServer1", QStringLiteral("&Add Server"), QKeySequence(Qt::CTRL | Qt::Key_A), Computer);
    mnuRemoveServer_ = make("RemoveServer1", QStringLiteral("&Remove Server"),
                            QKeySequence(Qt::CTRL | Qt::Key_R), RecycleBin);
    mnuEditServer_ =
        make("EditServer1", QStringLiteral("&Edit Server"), QKeySequence(Qt::CTRL | Qt::Key_E), HandWriting);
    mnuViewMonitor_ =
        make("mnuViewMonitor", QStringLiteral("&Monitor"), QKeySequence(Qt::Key_F10), ScreenChart);
    mnuViewConfig_ =
        make("mnuViewConfig", QStringLiteral("&Configuration"), QKeySequence(Qt::Key_F11), Information);
    mnuAbout_ = make("mnuAbout", QStringLiteral("&About..."), QKeySequence(Qt::Key_F2), QuestionBubble);
    mnuHelpPage_ = make("mnuHelpPage", QStringLiteral("&Help File..."), QKeySequence(Qt::Key_F1), -1);

    connect(mnuNew_, &QAction::triggered, this, [this] { app_->newCommand(); });
    connect(mnuOpen_, &QAction::triggered, this, [this] { app_->openCommand(); });
    connect(mnuSave_, &QAction::triggered, this, [this] { app_->saveDocument(); });
    connect(mnuSaveAs_, &QAction::triggered, this, [this] { app_->saveDocumentAs(); });
    connect(mnuExit_, &QAction::triggered, this, &TForm1::mnuExitClick);
    connect(mnuStart_, &QAction::triggered, this, &TForm1::mnuStartClick);
    connect(mnuCheckNow_, &QAction::triggered, this, &TForm1::mnuCheckNowClick);
    connect(mnuAddServer_, &QAction::triggered, this, &TForm1::btnAddClick);
    connect(mnuRemoveServer_, &QAction::triggered, this, &TForm1::RemoveServer1Click);
    connect(mnuEditServer_, &QAction::triggered, this, &TForm1::EditServer1Click);
    connect(mnuViewMonitor_, &QAction::triggered, this, [this] { pcMain_->setCurrentWidget(tsResults_); });
    connect(mnuViewConfig_, &QAction::triggered, this, [this] { pcMain_->setCurrentWidget(tsConfig_); });
    connect(mnuAbout_, &QAction::triggered, this, &TForm1::mnuAboutClick);
    connect(mnuHelpPage_, &QAction::triggered, this, &TForm1::mnuHelpPageClick);
}

void TForm1::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    QMenu* file = named(bar->addMenu(QStringLiteral("&File")), "mnuFile");
    file->addAction(mnuNew_);
    file->addAction(mnuOpen_);
    file->addAction(mnuSave_);
    file->addAction(mnuSaveAs_);
    file->addSeparator();
    file->addAction(mnuExit_);
    QMenu* monitor = named(bar->addMenu(QStringLiteral("Mo&nitor")), "mnuMonitor");
    monitor->addAction(mnuStart_);
    monitor->addAction(mnuCheckNow_);
    QMenu* config = named(bar->addMenu(QStringLiteral("&Config")), "mnuConfig");
    config->addAction(mnuAddServer_);
    config->addAction(mnuRemoveServer_);
    config->addAction(mnuEditServer_);
    QMenu* view = named(bar->addMenu(QStringLiteral("&View")), "mnuView");
    view->addAction(mnuViewMonitor_);
    view->addAction(mnuViewConfig_);
    QMenu* help = named(bar->addMenu(QStringLiteral("&Help")), "mnuHelp");
    help->addAction(mnuAbout_);
    help->addAction(mnuHelpPage_);
}

void TForm1::buildToolbar() {
    auto* bar = named(new QToolBar(QStringLiteral("Main"), this), "tbMain");
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    addToolBar(Qt::TopToolBarArea, bar);

    auto button = [bar](const char* name, const QString& caption, const QString& hint, int image) {
        auto* b = named(new QToolButton(bar), name);
        b->setText(caption);
        b->setIcon(ImageList::icon(image));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setMinimumSize(63, 36);
        b->setFocusPolicy(Qt::NoFocus);
        if (!hint.isEmpty()) {
            // A tooltip only: the status bar belongs to the monitor's texts, which a hover
            // tip would cover (and, left in place, show out of date).
            b->setToolTip(hint);
        }
        bar->addWidget(b);
        return b;
    };
    using namespace ImageList::Image;
    auto* tbNew = button("tbNew", QStringLiteral("New Doc"),
                         QStringLiteral("Create a new Vardomon configuration file."), NewPage);
    auto* tbOpen = button("tbOpen", QStringLiteral("Open Doc"),
                          QStringLiteral("Open an existing Vardomon configuration file."), OpenFolder);
    auto* tbSave = button("tbSave", QStringLiteral("Save Doc"),
                          QStringLiteral("Save the current Vardomon configuration file."), Floppy);
    bar->addSeparator();
    tbStartStop_ =
        button("tbStartStop", QStringLiteral("Start"), QStringLiteral("Start the Monitor"), LightRed);
    auto* checkNow =
        button("ToolButton1", QStringLiteral("Check Now"), QStringLiteral("Run check now"), BlueArrow);
    bar->addSeparator();
    auto* add = button("ToolButton3", QStringLiteral("Add Srv"), QString(), Computer);
    auto* del = button("ToolButton4", QStringLiteral("Del Srv"), QString(), RecycleBin);
    auto* edit = button("ToolButton5", QStringLiteral("Edit Srv"), QString(), HandWriting);

    connect(tbNew, &QToolButton::clicked, mnuNew_, &QAction::trigger);
    connect(tbOpen, &QToolButton::clicked, mnuOpen_, &QAction::trigger);
    connect(tbSave, &QToolButton::clicked, mnuSave_, &QAction::trigger);
    connect(tbStartStop_, &QToolButton::clicked, this, &TForm1::mnuStartClick);
    connect(checkNow, &QToolButton::clicked, this, &TForm1::mnuCheckNowClick);
    connect(add, &QToolButton::clicked, this, &TForm1::btnAddClick);
    connect(del, &QToolButton::clicked, this, &TForm1::RemoveServer1Click);
    connect(edit, &QToolButton::clicked, this, &TForm1::EditServer1Click);
}

void TForm1::buildPages() {
    pcMain_ = named(new QTabWidget(this), "pcMain");
    pcMain_->setDocumentMode(true);
    pcMain_->setUsesScrollButtons(false);

    tsResults_ = named(new QWidget(pcMain_), "tsResults");
    resultlist_ = new GridView(QStringLiteral("resultlist"), true, tsResults_);
    quietRows_ = new QuietRowsModel(
        resultModel_,
        [this](int row) {
            const std::optional<ServerItem> host =
                app_ ? app_->document().at(static_cast<std::size_t>(row)) : std::nullopt;
            if (!host) {
                return QString();
            }
            const std::time_t now = app_->now();
            const auto end = muteEnd(app_->liveConfig().extra().monitor.mutes, host->name, now);
            return quietMark(app_->quietOf(static_cast<std::size_t>(row)), end.value_or(0), now);
        },
        this);
    resultlist_->setGridModel(quietRows_, widthsOf(kResultColumns));
    resultlist_->fitColumns(resultTexts());
    auto* results = new QVBoxLayout(tsResults_);
    results->setContentsMargins(2, 2, 2, 2);
    results->addWidget(resultlist_);

    tsConfig_ = named(new QWidget(pcMain_), "tsConfig");
    auto* hosts = named(new QGroupBox(QStringLiteral("Hosts"), tsConfig_), "gbHosts");
    hostlist_ = new GridView(QStringLiteral("hostlist"), false, hosts);
    hostlist_->setGridModel(hostModel_, widthsOf(kHostColumns));
    hostlist_->fitColumns();
    hostlist_->keepSelectionVisible();
    hostlist_->setMinimumWidth(hostlist_->columnsWidth());
    auto* btnAdd = named(new QPushButton(QStringLiteral("&Add"), hosts), "btnAdd");
    auto* btnRemove = named(new QPushButton(QStringLiteral("&Del"), hosts), "btnRemove");
    auto* btnEdit = named(new QPushButton(QStringLiteral("&Edit"), hosts), "btnEdit");
    auto* hostButtons = new QHBoxLayout;
    hostButtons->addWidget(btnAdd);
    hostButtons->addWidget(btnRemove);
    hostButtons->addWidget(btnEdit);
    hostButtons->addStretch(1);
    auto* hostBox = new QVBoxLayout(hosts);
    hostBox->addWidget(hostlist_, 1);
    hostBox->addLayout(hostButtons);

    // The hosts keep the width of their columns and grow downwards; the options take the rest.
    hosts->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* config = new QHBoxLayout(tsConfig_);
    config->setContentsMargins(4, 4, 4, 4);
    config->addWidget(hosts);
    auto* right = new QVBoxLayout;
    right->addWidget(buildOptions(tsConfig_), 1);
    channels_ = new ChannelsBox(tsConfig_);
    right->addWidget(channels_);
    config->addLayout(right, 1);

    pcMain_->addTab(tsResults_, QStringLiteral("&Monitor View"));
    // Alt+C belongs to the Config menu.
    pcMain_->addTab(tsConfig_, QStringLiteral("C&onfiguration View"));
    pcMain_->setCurrentWidget(tsResults_);
    setCentralWidget(pcMain_);

    connect(btnAdd, &QPushButton::clicked, this, &TForm1::btnAddClick);
    connect(btnRemove, &QPushButton::clicked, this, &TForm1::btnRemoveClick);
    connect(btnEdit, &QPushButton::clicked, this, &TForm1::btnEditClick);
    connect(resultlist_, &QAbstractItemView::doubleClicked, this, &TForm1::EditServer1Click);
    connect(hostlist_, &QAbstractItemView::doubleClicked, this, &TForm1::EditServer1Click);
}

QWidget* TForm1::buildOptions(QWidget* parent) {
    auto* box = named(new QGroupBox(QStringLiteral("Options"), parent), "gbOptions");
    txtMailServer_ = named(new QLineEdit(box), "txtMailServer");
    txtFromAddress_ = named(new QLineEdit(box), "txtFromAddress");
    txtFromName_ = named(new QLineEdit(box), "txtFromName");
    txtMailSubject_ = named(new QLineEdit(box), "txtMailSubject");
    interval_ = new SpinEdit(QStringLiteral("txtInterval"), QStringLiteral("spInterval"), box);
    interval_->edit()->setText(QStringLiteral("1"));
    checksAtOnce_ = new SpinEdit(QStringLiteral("txtChecksAtOnce"), QStringLiteral("spChecksAtOnce"), box);
    checksAtOnce_->edit()->setText(QStringLiteral("1"));
    txtTimeout_ = named(new QLineEdit(QStringLiteral("5000"), box), "txtTimeout");
    new DigitKeyFilter(txtTimeout_);
    // The caption sits left of the box.
    cbxOpenLast_ = named(new QCheckBox(QStringLiteral("Open Last Doc:"), box), "cbxOpenLast");
    cbxOpenLast_->setLayoutDirection(Qt::RightToLeft);
    cbxDoLog_ = named(new QCheckBox(QStringLiteral("Log Events:"), box), "cbxDoLog");
    cbxDoLog_->setLayoutDirection(Qt::RightToLeft);
    txtLogFile_ = named(new QLineEdit(box), "txtLogFile");
    // Room for a path of some length, at whatever font.
    txtLogFile_->setMinimumWidth(txtLogFile_->fontMetrics().averageCharWidth() * 24);
    auto* setLog = named(new QPushButton(QStringLiteral("Set"), box), "btnSetLogFile");
    setLog->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    // A short caption needs no button of the usual width.
    setLog->setMaximumWidth(
        std::max(48, setLog->fontMetrics().horizontalAdvance(QStringLiteral(" Set ")) +
                         2 * (setLog->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, setLog) +
                              setLog->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, setLog))));
    // Kept with the settings, never shown.
    auto* dialLabel = named(new QLabel(QStringLiteral("Dialing Prefix:"), box), "lblDialPrefix");
    txtDialPrefix_ = named(new QLineEdit(box), "txtDialPrefix");
    dialLabel->hide();
    txtDialPrefix_->hide();
    cbxNotifications_ =
        named(new QCheckBox(QStringLiteral("Desktop Notifications:"), box), "cbxNotifications");
    cbxNotifications_->setLayoutDirection(Qt::RightToLeft);

    // The options scroll when the window is too short for all of them, so that the window
    // keeps its size.
    auto* scroller = named(new QScrollArea(box), "saOptions");
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroller);
    auto* grid = new QGridLayout(content);
    int row = 0;
    auto add = [&](const QString& label, QWidget* control) {
        grid->addWidget(new QLabel(label, box), row, 0);
        grid->addWidget(control, row, 1, 1, 2);
        ++row;
    };
    add(QStringLiteral("Mail Server:"), txtMailServer_);
    add(QStringLiteral("Mail From Address:"), txtFromAddress_);
    add(QStringLiteral("Mail From Name:"), txtFromName_);
    add(QStringLiteral("Mail Subject:"), txtMailSubject_);
    add(QStringLiteral("Monitor Interval (min):"), interval_);
    add(QStringLiteral("Checks at once:"), checksAtOnce_);
    add(QStringLiteral("Connect Timeout (ms):"), txtTimeout_);
    // Absolute: a right-to-left box would otherwise read "left" as right.
    grid->addWidget(cbxOpenLast_, row++, 0, 1, 2, Qt::AlignLeft | Qt::AlignAbsolute);
    grid->addWidget(cbxDoLog_, row++, 0, 1, 2, Qt::AlignLeft | Qt::AlignAbsolute);
    grid->addWidget(new QLabel(QStringLiteral("Log Filename:"), box), row, 0);
    grid->addWidget(txtLogFile_, row, 1);
    grid->addWidget(setLog, row, 2);
    ++row;
    grid->addWidget(cbxNotifications_, row++, 0, 1, 2, Qt::AlignLeft | Qt::AlignAbsolute);
    grid->addWidget(dialLabel, row, 0);
    grid->addWidget(txtDialPrefix_, row, 1, 1, 2);
    ++row;
    // How the alert mails reach their server (settings.toml), and a mail to try it with.
    spMailPort_ = named(new QSpinBox(box), "spMailPort");
    spMailPort_->setRange(1, 65535);
    spMailPort_->setValue(25);
    cboMailSecurity_ = named(new QComboBox(box), "cboMailSecurity");
    cboMailSecurity_->addItems({QStringLiteral("None"), QStringLiteral("STARTTLS"), QStringLiteral("TLS")});
    txtMailUser_ = named(new QLineEdit(box), "txtMailUser");
    txtMailPassword_ = named(new QLineEdit(box), "txtMailPassword");
    txtMailPassword_->setEchoMode(QLineEdit::Password);
    txtTestMailTo_ = named(new QLineEdit(box), "txtTestMailTo");
    btnTestMail_ = named(new QPushButton(QStringLiteral("Send Test Mail"), box), "btnTestMail");
    // The edit beside it gives way, never the button's caption, at whatever font.
    btnTestMail_->setMinimumWidth(
        btnTestMail_->fontMetrics().horizontalAdvance(btnTestMail_->text()) +
        2 * (btnTestMail_->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, btnTestMail_) +
             btnTestMail_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, btnTestMail_)));
    add(QStringLiteral("Mail Port:"), spMailPort_);
    add(QStringLiteral("Mail Security:"), cboMailSecurity_);
    add(QStringLiteral("Mail User:"), txtMailUser_);
    add(QStringLiteral("Mail Password:"), txtMailPassword_);
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(txtTestMailTo_, 1);
    testRow->addWidget(btnTestMail_);
    grid->addWidget(new QLabel(QStringLiteral("Test Mail To:"), box), row, 0);
    grid->addLayout(testRow, row, 1, 1, 2);
    ++row;
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    scroller->setWidget(content);
    scroller->setMinimumWidth(content->minimumSizeHint().width() +
                              scroller->verticalScrollBar()->sizeHint().width());
    auto* frame = new QVBoxLayout(box);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->addWidget(scroller);

    connect(setLog, &QPushButton::clicked, this, [this] {
        // A name shown as it is stored keeps its bytes.
        const std::string current = app_->settings().logFile;
        app_->setLogFile(storedText(txtLogFile_->text(), displayText(current), current));
    });
    return box;
}

void TForm1::connectOptions() {
    // A text that still shows what the setting holds is no change: filling the options at
    // first show must not rewrite 8-bit settings as UTF-8.
    auto text = [this](QLineEdit* edit, std::string ServerCfg::*field) {
        connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& t) {
            app_->updateSettings(
                [&](ServerCfg& c) { c.*field = storedText(t, displayText(c.*field), c.*field); });
        });
    };
    auto number = [this](QLineEdit* edit, std::int32_t ServerCfg::*field) {
        connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& t) {
            const std::int32_t value = atolText(t.toStdString());
            app_->updateSettings([&](ServerCfg& c) { c.*field = value; });
        });
    };
    text(txtMailServer_, &ServerCfg::mailServer);
    text(txtFromAddress_, &ServerCfg::fromAddress);
    text(txtFromName_, &ServerCfg::fromName);
    text(txtMailSubject_, &ServerCfg::mailSubject);
    text(txtDialPrefix_, &ServerCfg::dialPrefix);
    number(interval_->edit(), &ServerCfg::interval);
    number(txtTimeout_, &ServerCfg::connectTimeout);
    connect(checksAtOnce_->edit(), &QLineEdit::textChanged, this, [this](const QString& t) {
        const std::int32_t value = usableChecksAtOnce(atolText(t.toStdString()));
        app_->liveConfig().updateExtra([value](Settings& s) { s.monitor.checksAtOnce = value; });
    });
    // Clicks only: filling the boxes at first show is no change by the user.
    connect(cbxOpenLast_, &QCheckBox::clicked, this,
            [this](bool on) { app_->updateSettings([on](ServerCfg& c) { c.openLast = on ? 1 : 0; }); });
    connect(cbxDoLog_, &QCheckBox::clicked, this, [this](bool on) { app_->setLogEnabled(on); });
    connect(cbxNotifications_, &QCheckBox::clicked, this, [this](bool on) {
        app_->liveConfig().updateExtra([on](Settings& s) { s.desktop.notifications = on; });
    });

    auto mail = [this](const std::function<void(MailSettings&)>& change) {
        app_->liveConfig().updateExtra([&](Settings& s) { change(s.mail); });
    };
    auto mailText = [this](QLineEdit* edit, std::string MailSettings::*field) {
        connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& t) {
            app_->liveConfig().updateExtra([&](Settings& s) {
                s.mail.*field = storedText(t, displayText(s.mail.*field), s.mail.*field);
            });
        });
    };
    connect(spMailPort_, &QSpinBox::valueChanged, this,
            [mail](int port) { mail([port](MailSettings& m) { m.port = port; }); });
    connect(cboMailSecurity_, &QComboBox::currentIndexChanged, this, [mail](int index) {
        if (index >= 0) {
            mail([index](MailSettings& m) { m.security = static_cast<MailSecurity>(index); });
        }
    });
    mailText(txtMailUser_, &MailSettings::user);
    mailText(txtMailPassword_, &MailSettings::password);
    connect(btnTestMail_, &QPushButton::clicked, this, &TForm1::btnTestMailClick);
}

void TForm1::fillMailOptions(const MailSettings& mail) {
    spMailPort_->setValue(mail.port);
    cboMailSecurity_->setCurrentIndex(static_cast<int>(mail.security));
    txtMailUser_->setText(displayText(mail.user));
    txtMailPassword_->setText(displayText(mail.password));
    // A password that a command gives is not typed here.
    const bool fromCommand = !mail.passwordCommand.empty();
    txtMailPassword_->setEnabled(!fromCommand);
    txtMailPassword_->setPlaceholderText(fromCommand ? QStringLiteral("from password_command") : QString());
}

void TForm1::btnTestMailClick() {
    const std::string recipients = txtTestMailTo_->text().toStdString();
    // The server may take a while to answer; the window stays alive meanwhile.
    btnTestMail_->setEnabled(false);
    const TestMailResult result = callWhileBusy([&] { return app_->sendTestMail(recipients); });
    btnTestMail_->setEnabled(true);
    if (closed_) {
        return;
    }
    MessageBox::information(
        this, displayText(result.sent ? "Test mail sent. The mail server answered: " + result.text
                                      : "Test mail not sent: " + result.text));
}

void TForm1::fillOptions(const ServerCfg& cfg) {
    auto q = [](const std::string& s) { return displayText(s); };
    txtMailServer_->setText(q(cfg.mailServer));
    txtFromAddress_->setText(q(cfg.fromAddress));
    txtFromName_->setText(q(cfg.fromName));
    txtMailSubject_->setText(q(cfg.mailSubject));
    txtDialPrefix_->setText(q(cfg.dialPrefix));
    interval_->edit()->setText(q(stringify(cfg.interval)));
    txtTimeout_->setText(q(stringify(cfg.connectTimeout)));
    checksAtOnce_->edit()->setText(q(stringify(app_->liveConfig().extra().monitor.checksAtOnce)));
    cbxOpenLast_->setChecked(cfg.openLast != 0);
    cbxDoLog_->setChecked(cfg.doLog != 0);
    txtLogFile_->setText(q(cfg.logFile));
    cbxNotifications_->setChecked(app_->liveConfig().extra().desktop.notifications);
    // Long texts show their beginning.
    for (QLineEdit* edit : {txtMailServer_, txtFromAddress_, txtFromName_, txtMailSubject_, txtLogFile_}) {
        edit->setCursorPosition(0);
    }
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstShowQueued_) {
        return;
    }
    firstShowQueued_ = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    // Once the window is on the screen, so that the boxes of the first show sit over it.
    QTimer::singleShot(0, this, &TForm1::FormShow);
}

void TForm1::FormShow() {
    if (closed_) {
        return;
    }
    fillOptions(app_->settings());
    fillMailOptions(app_->liveConfig().extra().mail);
    tray_->setWanted(app_->liveConfig().extra().desktop.tray);
    app_->firstShow();
    if (!startupDocument_.empty()) {
        app_->openPath(startupDocument_);
    }
    firstShowDone_ = true;
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!closed_ && !exiting_ && tray_->isShown() && app_->liveConfig().extra().desktop.closeToTray) {
        // Monitoring goes on; the tray brings the window back, and Exit ends the program.
        hide();
        event->ignore();
        return;
    }
    if (!closed_) {
        if (!app_->shutdown()) {
            event->ignore();
            return;
        }
        closed_ = true;
    }
    event->accept();
}

void TForm1::showStartStop(bool running) {
    using namespace ImageList::Image;
    const QIcon icon = ImageList::icon(running ? LightGreen : LightRed);
    mnuStart_->setText(running ? QStringLiteral("&Stop") : QStringLiteral("&Start"));
    mnuStart_->setIcon(icon);
    tbStartStop_->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    tbStartStop_->setIcon(icon);
    const QString hint = running ? QStringLiteral("Stop the Monitor") : QStringLiteral("Start the Monitor");
    tbStartStop_->setToolTip(hint);
    updateTray();
}

void TForm1::updateTray() {
    HostTally tally;
    int muted = 0;
    const HostMutes mutes = app_->liveConfig().extra().monitor.mutes;
    const std::time_t now = app_->now();
    app_->document().withItems([&](const std::vector<ServerItem>& items) {
        tally = tallyHosts(items);
        muted = static_cast<int>(std::count_if(
            items.begin(), items.end(), [&](const ServerItem& i) { return isMuted(mutes, i.name, now); }));
    });
    tray_->update(tally, app_->isMonitoring(), muted);
}

void TForm1::buildQuiet() {
    // The host selected in the grid in front, or every host when none is.
    const auto hosts = [this](bool selectedOnly) {
        const std::optional<std::size_t> row = selectedOnly ? selectedRow(sourceGrid()) : std::nullopt;
        std::vector<std::string> names;
        app_->document().withItems([&](const std::vector<ServerItem>& items) {
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (!row || i == *row) {
                    names.push_back(items[i].name);
                }
            }
        });
        return names;
    };
    auto* hostMenu = new MuteMenu(
        QStringLiteral("mnuMute"), [hosts] { return hosts(true); }, *app_, this);
    QMenu* config = menuBar()->findChild<QMenu*>(QStringLiteral("mnuConfig"));
    config->addSeparator();
    config->addMenu(hostMenu);
    auto* rowMenu = new MuteMenu(
        QStringLiteral("ctxMute"), [hosts] { return hosts(true); }, *app_, this);
    resultlist_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(resultlist_, &QWidget::customContextMenuRequested, this,
            [this, rowMenu](const QPoint& at) { rowMenu->popup(resultlist_->viewport()->mapToGlobal(at)); });
    auto* trayMenu = new MuteMenu(
        QStringLiteral("trayMute"), [hosts] { return hosts(false); }, *app_, tray_->menu());
    tray_->menu()->insertMenu(mnuExit_, trayMenu);
    tray_->menu()->insertSeparator(mnuExit_);
    for (MuteMenu* menu : {hostMenu, rowMenu, trayMenu}) {
        connect(menu, &MuteMenu::mutesChanged, this, [this] {
            quietRows_->refresh();
            updateTray();
        });
    }
}

void TForm1::showFromTray() {
    showNormal();
    raise();
    activateWindow();
}

void TForm1::mnuStartClick() {
    showStartStop(app_->toggleMonitor());
}

void TForm1::mnuCheckNowClick() {
    app_->checkNow();
}

GridView* TForm1::sourceGrid() const {
    return pcMain_->currentWidget() == tsConfig_ ? hostlist_ : resultlist_;
}

std::optional<std::size_t> TForm1::selectedRow(const GridView* grid) {
    const int row = grid->firstSelectedRow();
    if (row < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(row);
}

void TForm1::btnAddClick() {
    app_->addHost();
}

void TForm1::btnEditClick() {
    app_->editHost(selectedRow(hostlist_), GridSource::HostGrid);
}

void TForm1::btnRemoveClick() {
    app_->removeHost(selectedRow(hostlist_));
}

void TForm1::EditServer1Click() {
    GridView* grid = sourceGrid();
    app_->editHost(selectedRow(grid), grid == hostlist_ ? GridSource::HostGrid : GridSource::ResultGrid);
}

void TForm1::RemoveServer1Click() {
    app_->removeHost(selectedRow(sourceGrid()));
}

void TForm1::mnuExitClick() {
    exiting_ = true;
    const bool inTray = isHidden();
    if (!close()) {
        // Refused (a wanted save did not happen): the window stays, and so does the tray.
        exiting_ = false;
    } else if (inTray) {
        // No window closed in front of the user, so none ends the program by itself.
        QCoreApplication::quit();
    }
}

void TForm1::mnuHelpPageClick() {
    openHelpFile();
}

void TForm1::mnuAboutClick() {
    TAboutBox box(this);
    box.exec();
}
