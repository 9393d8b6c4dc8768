#include "ui/HostDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstdint>

#include "app/DialogServices.h"
#include "core/HostParents.h"
#include "ui/BusyCall.h"
#include "ui/DigitFilters.h"
#include "ui/DisplayText.h"
#include "ui/FileNameEdit.h"
#include "ui/HelpFile.h"
#include "ui/ListDialog.h"
#include "ui/MessageBox.h"
#include "ui/ParentsEdit.h"
#include "ui/SpinEdit.h"
#include "ui/WebCheckOptions.h"

namespace {

QString toQt(const std::string& text) {
    return displayText(text);
}
std::string fromQt(const QString& text) {
    return text.toStdString();
}

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QPlainTextEdit* memo(const char* name, QWidget* parent) {
    auto* m = named(new QPlainTextEdit(parent), name);
    m->setTabChangesFocus(true);
    // Three lines show at any font.
    m->setMinimumHeight(m->fontMetrics().lineSpacing() * 3 + 2 * (m->frameWidth() + 4));
    return m;
}

// An edit for a path or a command line: room for a good part of one at any font.
void widenForPaths(QWidget* edit) {
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 28);
}

// Dialog counters come from 16-bit spinner positions.
int spinnerPosition(std::int32_t value) {
    return static_cast<std::int16_t>(value);
}

int comboIndex(int value, const QComboBox* box) {
    return value >= 0 && value < box->count() ? value : -1;
}

}  // namespace

TAddHostDlg::TAddHostDlg(DialogServices& services, TListDlg& listDialog, QWidget* parent)
    : QDialog(parent), services_(services), listDialog_(listDialog), pages_(new QTabWidget(this)) {
    setObjectName(QStringLiteral("AddHostDlg"));
    setWindowTitle(QStringLiteral("AddHostDlg"));
    pages_->setObjectName(QStringLiteral("pcHost"));

    buildGeneralPage();
    buildOptionsPage();
    buildEventsPage();
    buildNotificationsPage();

    auto* ok = named(new QPushButton(QStringLiteral("&OK"), this), "btnOk");
    auto* cancel = named(new QPushButton(QStringLiteral("&Cancel"), this), "btnCancel");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &TAddHostDlg::btnOkClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* help = named(new QAction(this), "actionHelp");
    help->setShortcut(QKeySequence(Qt::Key_F1));
    help->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(help);
    connect(help, &QAction::triggered, this, &TAddHostDlg::actionHelpExecute);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(6, 6, 6, 6);
    main->addWidget(pages_, 1);
    main->addLayout(buttons);
    // The largest group shows while the size is taken; the type decides later.
    cboTypeChange();
    // A fixed size: the design size, or more where the font needs it.
    setFixedSize(QSize(376, 421).expandedTo(minimumSizeHint()));
}

void TAddHostDlg::buildGeneralPage() {
    auto* page = named(new QWidget, "tsGeneral");
    txtName_ = named(new QLineEdit(page), "txtName");
    txtAddress_ = named(new QLineEdit(page), "txtAddress");
    cboType_ = named(new QComboBox(page), "cboType");
    cboType_->addItems({QStringLiteral("TCP/IP"), QStringLiteral("Ping"), QStringLiteral("Service")});
    failures_ = new SpinEdit(QStringLiteral("txtFailures"), QStringLiteral("spFailures"), page);
    failures_->setReadOnly(true);
    installDigitTextFilter(failures_->edit());
    txtDescription_ = memo("txtDescription", page);

    auto* form = new QFormLayout(page);
    form->addRow(QStringLiteral("Name:"), txtName_);
    form->addRow(QStringLiteral("Address:"), txtAddress_);
    form->addRow(QStringLiteral("Type:"), cboType_);
    form->addRow(QStringLiteral("Failures Allowed:"), failures_);
    form->addRow(new QLabel(QStringLiteral("Description:"), page));
    form->addRow(txtDescription_);
    parents_ = new ParentsEdit(page);
    form->addRow(QStringLiteral("Depends on:"), parents_);
    pages_->addTab(page, QStringLiteral("&General"));
    connect(cboType_, &QComboBox::currentIndexChanged, this, &TAddHostDlg::cboTypeChange);
}

void TAddHostDlg::buildOptionsPage() {
    auto* page = named(new QWidget, "tsOptions");

    tcpGroup_ = named(new QGroupBox(QStringLiteral("TCP Options"), page), "gbTcpOptions");
    txtTcpPort_ = named(new QLineEdit(tcpGroup_), "txtTcpPort");
    installDigitTextFilter(txtTcpPort_);
    cboTcpType_ = named(new QComboBox(tcpGroup_), "cboTcpType");
    cboTcpType_->addItems({QStringLiteral("Connect Only"), QStringLiteral("Connect & Receive"),
                           QStringLiteral("Connect & Send & Receive"), QStringLiteral("HTTP(S) Request")});
    txtSendText_ = memo("txtSendText", tcpGroup_);
    txtRecvText_ = memo("txtRecvText", tcpGroup_);
    lblTcpPort_ = new QLabel(QStringLiteral("TCP Port:"), tcpGroup_);
    lblSendText_ = new QLabel(QStringLiteral("Sent Text"), tcpGroup_);
    lblRecvText_ = new QLabel(QStringLiteral("Receive Text"), tcpGroup_);
    webOptions_ = named(new WebCheckOptions(tcpGroup_), "webOptions");
    auto* tcp = new QFormLayout(tcpGroup_);
    tcp->addRow(lblTcpPort_, txtTcpPort_);
    tcp->addRow(QStringLiteral("TCP Type:"), cboTcpType_);
    tcp->addRow(lblSendText_);
    tcp->addRow(txtSendText_);
    tcp->addRow(lblRecvText_);
    tcp->addRow(txtRecvText_);
    tcp->addRow(webOptions_);
    connect(cboTcpType_, &QComboBox::currentIndexChanged, this, [this] { cboTcpTypeChange(); });

    pingGroup_ = named(new QGroupBox(QStringLiteral("Ping Options"), page), "gbPingOptions");
    numPings_ = new SpinEdit(QStringLiteral("txtNumPings"), QStringLiteral("spRetries"), pingGroup_);
    pingSeconds_ = new SpinEdit(QStringLiteral("txtPingSeconds"), QStringLiteral("spSeconds"), pingGroup_);
    for (SpinEdit* s : {numPings_, pingSeconds_}) {
        s->setReadOnly(true);
        installDigitTextFilter(s->edit());
    }
    auto* ping = new QFormLayout(pingGroup_);
    ping->addRow(QStringLiteral("Number of Tries:"), numPings_);
    ping->addRow(QStringLiteral("Seconds Between Retrys:"), pingSeconds_);

    serviceGroup_ = named(new QGroupBox(QStringLiteral("Service Options"), page), "gbServiceOptions");
    txtService_ = named(new QLineEdit(serviceGroup_), "txtService");
    auto* find = named(new QPushButton(QStringLiteral("&Find"), serviceGroup_), "btnFindService");
    auto* service = new QFormLayout(serviceGroup_);
    auto* serviceRow = new QHBoxLayout;
    serviceRow->addWidget(txtService_, 1);
    serviceRow->addWidget(find);
    service->addRow(QStringLiteral("Check Service:"), serviceRow);
    connect(find, &QPushButton::clicked, this, [this] { btnFindServiceClick(false); });

    // The three groups share one place; the type decides which one shows.
    auto* box = new QVBoxLayout(page);
    box->addWidget(tcpGroup_);
    box->addWidget(pingGroup_);
    box->addWidget(serviceGroup_);
    box->addStretch(1);
    // Alt+O belongs to OK.
    pages_->addTab(page, QStringLiteral("O&ptions"));
}

void TAddHostDlg::buildEventsPage() {
    auto* page = named(new QWidget, "tsEvents");
    const QString wav = QStringLiteral("Wav Files|*.wav");

    auto* up = named(new QGroupBox(QStringLiteral("On Server Up"), page), "gbServerUp");
    cbxUpSound_ = named(new QCheckBox(QStringLiteral("Play Sound:"), up), "cbxUpSound");
    txtUpSound_ = new FileNameEdit(QStringLiteral("txtUpSound"), wav, up);
    auto* testUpSound = named(new QPushButton(QStringLiteral("Test"), up), "btnTestUpSound");
    cbxUpCmd_ = named(new QCheckBox(QStringLiteral("Run Command:"), up), "cbxUpCmd");
    txtUpCmd_ = new FileNameEdit(QStringLiteral("txtUpCmd"), QString(), up);
    auto* testUpCmd = named(new QPushButton(QStringLiteral("Test"), up), "btnTestUpCmd");
    auto* upGrid = new QGridLayout(up);
    upGrid->setVerticalSpacing(2);
    upGrid->addWidget(cbxUpSound_, 0, 0, 1, 2);
    upGrid->addWidget(txtUpSound_, 1, 0);
    upGrid->addWidget(testUpSound, 1, 1);
    upGrid->addWidget(cbxUpCmd_, 2, 0, 1, 2);
    upGrid->addWidget(txtUpCmd_, 3, 0);
    upGrid->addWidget(testUpCmd, 3, 1);

    auto* down = named(new QGroupBox(QStringLiteral("On Server Down"), page), "gbServerDown");
    cbxDownSound_ = named(new QCheckBox(QStringLiteral("Play Sound:"), down), "cbxDownSound");
    txtDownSound_ = new FileNameEdit(QStringLiteral("txtDownSound"), wav, down);
    auto* testDownSound = named(new QPushButton(QStringLiteral("Test"), down), "btnTestDownSound");
    cbxDownCmd_ = named(new QCheckBox(QStringLiteral("Run Command:"), down), "cbxDownCmd");
    txtDownCmd_ = new FileNameEdit(QStringLiteral("txtDownCmd"), QString(), down);
    auto* testDownCmd = named(new QPushButton(QStringLiteral("Test"), down), "btnTestDownCmd");
    cbxShutdown_ =
        named(new QCheckBox(QStringLiteral("Reboot Machine: (Windows 2000/XP Only)"), down), "cbxShutdown");
    txtShutdown_ = named(new QLineEdit(down), "txtShutdown");
    cbxStartService_ = named(new QCheckBox(QStringLiteral("Start Service: (Windows NT/2000/XP Only)"), down),
                             "cbxStartService");
    txtStartService_ = named(new QLineEdit(down), "txtStartService");
    auto* findEvents = named(new QPushButton(QStringLiteral("&Find"), down), "btnFindServiceEvents");
    auto* downGrid = new QGridLayout(down);
    downGrid->setVerticalSpacing(2);
    downGrid->addWidget(cbxDownSound_, 0, 0, 1, 2);
    downGrid->addWidget(txtDownSound_, 1, 0);
    downGrid->addWidget(testDownSound, 1, 1);
    downGrid->addWidget(cbxDownCmd_, 2, 0, 1, 2);
    downGrid->addWidget(txtDownCmd_, 3, 0);
    downGrid->addWidget(testDownCmd, 3, 1);
    downGrid->addWidget(cbxShutdown_, 4, 0, 1, 2);
    downGrid->addWidget(txtShutdown_, 5, 0, 1, 2);
    downGrid->addWidget(cbxStartService_, 6, 0, 1, 2);
    downGrid->addWidget(txtStartService_, 7, 0);
    downGrid->addWidget(findEvents, 7, 1);

    for (QWidget* edit : std::initializer_list<QWidget*>{txtUpSound_, txtUpCmd_, txtDownSound_, txtDownCmd_,
                                                         txtShutdown_, txtStartService_}) {
        widenForPaths(edit);
    }
    // The edits take the width; the buttons keep the width of their captions.
    for (QPushButton* b : {testUpSound, testUpCmd, testDownSound, testDownCmd, findEvents}) {
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    upGrid->setColumnStretch(0, 1);
    downGrid->setColumnStretch(0, 1);

    auto* box = new QVBoxLayout(page);
    box->addWidget(up);
    box->addWidget(down);
    box->addStretch(1);
    pages_->addTab(page, QStringLiteral("&Events"));

    connect(testUpSound, &QPushButton::clicked, this, &TAddHostDlg::btnTestUpSoundClick);
    connect(testDownSound, &QPushButton::clicked, this, &TAddHostDlg::btnTestDownSoundClick);
    connect(testUpCmd, &QPushButton::clicked, this, &TAddHostDlg::btnTestUpCmdClick);
    connect(testDownCmd, &QPushButton::clicked, this, &TAddHostDlg::btnTestDownCmdClick);
    connect(findEvents, &QPushButton::clicked, this, [this] { btnFindServiceClick(true); });
}

void TAddHostDlg::buildNotificationsPage() {
    auto* page = named(new QWidget, "tsNotifications");
    cbxNotifyServerUp_ =
        named(new QCheckBox(QStringLiteral("Notify When the server comes up"), page), "cbxNotifyServerUp");
    cbxNotifyServerDown_ =
        named(new QCheckBox(QStringLiteral("Notify When the server goes down"), page), "cbxNotifyServerDown");
    cbxMsgBox_ = named(new QCheckBox(QStringLiteral("Display Message Box"), page), "cbxMsgBox");
    cbxSendMails_ = named(new QCheckBox(QStringLiteral("Send Emails:"), page), "cbxSendMails");
    txtSendMails_ = named(new QLineEdit(page), "txtSendMails");
    cbxNetSend_ = named(new QCheckBox(QStringLiteral("Net Message:"), page), "cbxNetSend");
    txtNetSend_ = named(new QLineEdit(page), "txtNetSend");
    txtUpMsg_ = memo("txtUpMsg", page);
    txtDownMsg_ = memo("txtDownMsg", page);

    auto* grid = new QGridLayout(page);
    grid->setVerticalSpacing(4);
    grid->addWidget(cbxNotifyServerUp_, 0, 0, 1, 2);
    grid->addWidget(cbxNotifyServerDown_, 1, 0, 1, 2);
    grid->addWidget(cbxMsgBox_, 2, 0, 1, 2);
    grid->addWidget(cbxSendMails_, 3, 0);
    grid->addWidget(txtSendMails_, 3, 1);
    grid->addWidget(cbxNetSend_, 4, 0);
    grid->addWidget(txtNetSend_, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("Server up message:"), page), 5, 0, 1, 2);
    grid->addWidget(txtUpMsg_, 6, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Server down message:"), page), 7, 0, 1, 2);
    grid->addWidget(txtDownMsg_, 8, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    pages_->addTab(page, QStringLiteral("&Notifications"));
}

void TAddHostDlg::showEvent(QShowEvent* event) {
    // Spontaneous show events (the window manager restoring the dialog) are no new showing.
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

void TAddHostDlg::FormShow() {
    pages_->setCurrentIndex(0);
    failures_->spinner()->setRange(0, 100);
    numPings_->spinner()->setRange(1, 10);
    pingSeconds_->spinner()->setRange(1, 10);

    parents_->show(beside.otherHosts, parentNames(beside.extras));
    const ServerItem& r = record;
    showText(txtName_, r.name);
    showText(txtAddress_, r.address);
    cboType_->setCurrentIndex(comboIndex(r.type, cboType_));
    // Out of range only through a document file: the spinner shows, and OK stores, the
    // nearest value it can hold.
    failures_->spinner()->setPosition(spinnerPosition(r.failuresAllowed));
    showMemo(txtDescription_, r.description);

    txtTcpPort_->setText(toQt(stringify(r.tcpPort)));
    cboTcpType_->setCurrentIndex(comboIndex(r.tcpType, cboTcpType_));
    showMemo(txtSendText_, r.sendText);
    showMemo(txtRecvText_, r.recvText);
    webOptions_->showSettings(beside.extras);
    numPings_->spinner()->setPosition(spinnerPosition(r.numPings));
    pingSeconds_->spinner()->setPosition(spinnerPosition(r.pingSeconds));
    showText(txtService_, r.service);

    const EventData& e = r.events;
    cbxUpSound_->setChecked(e.upSound);
    showText(txtUpSound_->edit(), e.upSoundFile);
    cbxUpCmd_->setChecked(e.upCmd);
    showText(txtUpCmd_->edit(), e.upCmdLine);
    cbxDownSound_->setChecked(e.downSound);
    showText(txtDownSound_->edit(), e.downSoundFile);
    cbxDownCmd_->setChecked(e.downCmd);
    showText(txtDownCmd_->edit(), e.downCmdLine);
    cbxShutdown_->setChecked(e.shutdown);
    showText(txtShutdown_, e.shutdownMachine);
    cbxStartService_->setChecked(e.startService);
    showText(txtStartService_, e.startServiceName);

    const NotifyData& n = r.notify;
    cbxNotifyServerUp_->setChecked(n.notifyUp);
    cbxNotifyServerDown_->setChecked(n.notifyDown);
    cbxMsgBox_->setChecked(n.msgBox);
    cbxSendMails_->setChecked(n.sendMails);
    showText(txtSendMails_, n.mailList);
    cbxNetSend_->setChecked(n.netSend);
    showText(txtNetSend_, n.netSendList);
    showMemo(txtUpMsg_, n.upMsg);
    showMemo(txtDownMsg_, n.downMsg);

    // Long texts show their beginning, not their end.
    for (QLineEdit* edit : findChildren<QLineEdit*>()) {
        edit->setCursorPosition(0);
    }
    cboTypeChange();
    cboTcpTypeChange();
    txtName_->setFocus();
}

void TAddHostDlg::showText(QLineEdit* edit, const std::string& bytes) {
    edit->setText(displayText(bytes));
    shown_[edit] = edit->text();
}

void TAddHostDlg::showMemo(QPlainTextEdit* memo, const std::string& bytes) {
    memo->setPlainText(displayMemo(bytes));
    shown_[memo] = memo->toPlainText();
}

std::string TAddHostDlg::stored(const QLineEdit* edit, const std::string& bytes) const {
    return storedText(edit->text(), shown_.value(edit), bytes);
}

std::string TAddHostDlg::stored(const QPlainTextEdit* memo, const std::string& bytes) const {
    return storedMemo(memo->toPlainText(), shown_.value(memo), bytes);
}

void TAddHostDlg::cboTypeChange() {
    const int type = cboType_->currentIndex();
    // Hidden groups keep what was typed into them; OK stores them all.
    tcpGroup_->setVisible(type == HostTcpIp);
    pingGroup_->setVisible(type == HostPing);
    serviceGroup_->setVisible(type != HostTcpIp && type != HostPing);
}

void TAddHostDlg::cboTcpTypeChange() {
    // A web check's port is in its URL, and it sends no text of its own.
    const bool web = cboTcpType_->currentIndex() == TcpHttpRequest;
    lblTcpPort_->setVisible(!web);
    txtTcpPort_->setVisible(!web);
    lblSendText_->setVisible(!web);
    txtSendText_->setVisible(!web);
    lblRecvText_->setText(web ? QStringLiteral("Response must contain") : QStringLiteral("Receive Text"));
    webOptions_->setTcpType(cboTcpType_->currentIndex());
}

void TAddHostDlg::btnOkClick() {
    if (txtName_->text().isEmpty()) {
        MessageBox::information(this, QStringLiteral("Please enter a name first."));
        return;
    }
    if (txtAddress_->text().isEmpty()) {
        MessageBox::information(this, QStringLiteral("Please enter an address (Computer Name) first."));
        return;
    }
    if (cboType_->currentIndex() == HostTcpIp && cboTcpType_->currentIndex() != TcpHttpRequest &&
        atolText(fromQt(txtTcpPort_->text())) == 0) {
        MessageBox::information(this, QStringLiteral("Please enter a valid port first."));
        return;
    }

    const std::vector<std::string> parents = parents_->chosen();
    const std::string name = stored(txtName_, record.name);
    if (const auto ring = beside.ringWith ? beside.ringWith(name, parents) : std::nullopt) {
        pages_->setCurrentIndex(0);
        MessageBox::information(
            this, QStringLiteral("A host cannot depend on itself, not even through others:\r\n") +
                      displayText(*ring));
        return;
    }
    setParentNames(beside.extras, parents);

    ServerItem& r = record;
    r.name = name;
    r.address = stored(txtAddress_, r.address);
    r.type = static_cast<std::int8_t>(cboType_->currentIndex());
    r.failuresAllowed = failures_->spinner()->position();
    r.description = stored(txtDescription_, r.description);

    EventData& e = r.events;
    e.upSound = cbxUpSound_->isChecked();
    e.downSound = cbxDownSound_->isChecked();
    e.upCmd = cbxUpCmd_->isChecked();
    e.downCmd = cbxDownCmd_->isChecked();
    e.shutdown = cbxShutdown_->isChecked();
    e.startService = cbxStartService_->isChecked();
    e.upSoundFile = stored(txtUpSound_->edit(), e.upSoundFile);
    e.downSoundFile = stored(txtDownSound_->edit(), e.downSoundFile);
    e.upCmdLine = stored(txtUpCmd_->edit(), e.upCmdLine);
    e.downCmdLine = stored(txtDownCmd_->edit(), e.downCmdLine);
    e.shutdownMachine = stored(txtShutdown_, e.shutdownMachine);
    e.startServiceName = stored(txtStartService_, e.startServiceName);

    NotifyData& n = r.notify;
    n.notifyUp = cbxNotifyServerUp_->isChecked();
    n.notifyDown = cbxNotifyServerDown_->isChecked();
    n.msgBox = cbxMsgBox_->isChecked();
    n.sendMails = cbxSendMails_->isChecked();
    n.netSend = cbxNetSend_->isChecked();
    n.mailList = stored(txtSendMails_, n.mailList);
    n.netSendList = stored(txtNetSend_, n.netSendList);
    n.upMsg = stored(txtUpMsg_, n.upMsg);
    n.downMsg = stored(txtDownMsg_, n.downMsg);

    r.numPings = numPings_->spinner()->position();
    r.pingSeconds = pingSeconds_->spinner()->position();
    r.tcpPort = atolText(fromQt(txtTcpPort_->text()));
    r.tcpType = static_cast<std::int8_t>(cboTcpType_->currentIndex());
    r.sendText = stored(txtSendText_, r.sendText);
    r.recvText = stored(txtRecvText_, r.recvText);
    r.service = stored(txtService_, r.service);
    webOptions_->storeSettings(beside.extras);
    accept();
}

void TAddHostDlg::btnTestUpSoundClick() {
    if (!txtUpSound_->text().isEmpty()) {
        services_.playSound(stored(txtUpSound_->edit(), record.events.upSoundFile));
    }
}

void TAddHostDlg::btnTestDownSoundClick() {
    if (!txtDownSound_->text().isEmpty()) {
        services_.playSound(stored(txtDownSound_->edit(), record.events.downSoundFile));
    }
}

void TAddHostDlg::btnTestUpCmdClick() {
    if (!txtUpCmd_->text().isEmpty()) {
        services_.runShellCommand(stored(txtUpCmd_->edit(), record.events.upCmdLine));
    }
}

void TAddHostDlg::btnTestDownCmdClick() {
    if (!txtDownCmd_->text().isEmpty()) {
        services_.runShellCommand(stored(txtDownCmd_->edit(), record.events.downCmdLine));
    }
}

void TAddHostDlg::btnFindServiceClick(bool fromEvents) {
    if (txtAddress_->text().isEmpty()) {
        MessageBox::information(this, QStringLiteral("You must fill out an address on the \"General\" tab."));
        return;
    }
    // Listing another machine's services may take a while: the dialog keeps painting and
    // takes a Cancel (ending the search), but nothing else until the list is there.
    const std::string machine = stored(txtAddress_, record.address);
    auto* ok = findChild<QPushButton*>(QStringLiteral("btnOk"));
    pages_->setEnabled(false);
    ok->setEnabled(false);
    finding_ = Finding::Yes;
    const ServiceListing listing = callWhileBusy([&] { return services_.listServices(machine); });
    const bool cancelled = finding_ == Finding::Cancelled;
    finding_ = Finding::No;
    pages_->setEnabled(true);
    ok->setEnabled(true);
    if (cancelled) {
        return;
    }
    if (!listing.error.empty()) {
        MessageBox::information(this, toQt(listing.error));
        return;
    }
    QStringList lines;
    for (const std::string& line : listing.lines) {
        lines.append(toQt(line));
    }
    listDialog_.lines = lines;
    if (listDialog_.exec() != QDialog::Accepted) {
        return;
    }
    const int chosen = listDialog_.selectedIndex;
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= listing.names.size()) {
        return;
    }
    const QString name = toQt(listing.names[static_cast<std::size_t>(chosen)]);
    (fromEvents ? txtStartService_ : txtService_)->setText(name);
}

void TAddHostDlg::reject() {
    if (finding_ != Finding::No) {
        finding_ = Finding::Cancelled;
        services_.cancelListing();
        return;
    }
    QDialog::reject();
}

void TAddHostDlg::actionHelpExecute() {
    openHelpFile();
}
