// The host dialog, the service list dialog and the about box.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include "UiTestHelpers.h"
#include "app/DialogServices.h"
#include "ui/AboutBox.h"
#include "ui/FileDialog.h"
#include "ui/FileNameEdit.h"
#include "ui/HostDialog.h"
#include "ui/ListDialog.h"
#include "ui/MessageBox.h"
#include "ui/SpinEdit.h"

// Delivers an event as the window system would (spontaneous); a friend of QCoreApplication.
bool qt_sendSpontaneousEvent(QObject* receiver, QEvent* event) {
    return QCoreApplication::sendSpontaneousEvent(receiver, event);
}

namespace {

class FakeServices : public DialogServices {
  public:
    void playSound(const std::string& file) override { sounds.push_back(file); }
    void runShellCommand(const std::string& command) override { commands.push_back(command); }
    ServiceListing listServices(const std::string& machine) override {
        machines.push_back(machine);
        return listing;
    }
    std::vector<std::string> sounds, commands, machines;
    ServiceListing listing;
};

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

  private:
    FakeServices services;
    std::unique_ptr<TListDlg> list;
    std::unique_ptr<TAddHostDlg> dlg;

    template <typename W>
    W* c(const char* name) {
        return child<W>(dlg.get(), name);
    }
    // Shows the dialog on record (without a modal loop) and presses OK.
    bool okWith(const ServerItem& record) {
        dlg->record = record;
        dlg->show();
        QSignalSpy accepted(dlg.get(), &QDialog::accepted);
        c<QPushButton>("btnOk")->click();
        const bool ok = accepted.count() == 1;
        dlg->hide();
        return ok;
    }
    static ServerItem valid() {
        ServerItem r;
        r.name = "web";
        r.address = "127.0.0.1";
        r.tcpPort = 80;
        return r;
    }

  private slots:
    void init() {
        MessageBox::setTestMode(true);
        MessageBox::clearShown();
        FileDialog::setTestMode(true);
        services = FakeServices{};
        list = std::make_unique<TListDlg>();
        dlg = std::make_unique<TAddHostDlg>(services, *list);
    }
    void cleanup() {
        dlg.reset();
        list.reset();
    }

    void hostDialogLooksAsDesigned() {
        QCOMPARE(dlg->windowTitle(), QStringLiteral("AddHostDlg"));
        QVERIFY(dlg->width() >= 376 && dlg->height() >= 421);
        auto* pages = c<QTabWidget>("pcHost");
        QCOMPARE(pages->count(), 4);
        QCOMPARE(pages->tabText(0), QStringLiteral("&General"));
        QCOMPARE(pages->tabText(1), QStringLiteral("O&ptions"));
        QCOMPARE(pages->tabText(2), QStringLiteral("&Events"));
        QCOMPARE(pages->tabText(3), QStringLiteral("&Notifications"));
        QCOMPARE(c<QComboBox>("cboType")->itemText(2), QStringLiteral("Service"));
        QCOMPARE(c<QComboBox>("cboTcpType")->itemText(1), QStringLiteral("Connect & Receive"));
        QCOMPARE(c<QCheckBox>("cbxShutdown")->text(),
                 QStringLiteral("Reboot Machine: (Windows 2000/XP Only)"));
        QVERIFY(c<QPushButton>("btnOk")->isDefault());
        QVERIFY(c<QLineEdit>("txtFailures")->isReadOnly());
        QVERIFY(c<QLineEdit>("txtNumPings")->isReadOnly());
    }

    void hostDialogFitsItsCaptionsAtAnyFontAndGivesEachAccessKeyOnce() {
        const QFont original = QApplication::font();
        QFont large = original;
        large.setPointSizeF(original.pointSizeF() * 1.6);
        for (const QFont& font : {original, large}) {
            QApplication::setFont(font);
            TAddHostDlg d(services, *list);
            d.record = valid();
            d.show();
            auto* pages = child<QTabWidget>(&d, "pcHost");
            for (int i = 0; i < pages->count(); ++i) {
                pages->setCurrentIndex(i);
                QCOMPARE(cutCaptions(&d), QStringList{});
                QCOMPARE(clashingAccessKeys(&d), QStringList{});
            }
        }
        QApplication::setFont(original);
    }

    void showFillsEveryControlAndStartsOnGeneral() {
        ServerItem r = valid();
        r.type = HostPing;
        r.failuresAllowed = 7;
        r.numPings = 3;
        r.pingSeconds = 4;
        r.description = "line one\r\nline two";
        r.events.downCmd = true;
        r.events.downCmdLine = "notify-send down";
        r.notify.mailList = "a@b";
        r.notify.sendMails = false;
        dlg->record = r;
        c<QTabWidget>("pcHost")->setCurrentIndex(3);
        dlg->show();
        QCOMPARE(c<QTabWidget>("pcHost")->currentIndex(), 0);
        QCOMPARE(c<QLineEdit>("txtName")->text(), QStringLiteral("web"));
        QCOMPARE(c<QComboBox>("cboType")->currentIndex(), 1);
        QCOMPARE(c<QLineEdit>("txtFailures")->text(), QStringLiteral("7"));
        QCOMPARE(c<QLineEdit>("txtNumPings")->text(), QStringLiteral("3"));
        QCOMPARE(c<QLineEdit>("txtPingSeconds")->text(), QStringLiteral("4"));
        QCOMPARE(c<QLineEdit>("txtTcpPort")->text(), QStringLiteral("80"));
        QCOMPARE(c<QPlainTextEdit>("txtDescription")->toPlainText(), QStringLiteral("line one\nline two"));
        QVERIFY(c<QCheckBox>("cbxDownCmd")->isChecked());
        QVERIFY(!c<QCheckBox>("cbxSendMails")->isChecked());
        QVERIFY(!c<QGroupBox>("gbPingOptions")->isHidden());
        QVERIFY(!!c<QGroupBox>("gbTcpOptions")->isHidden());
        QVERIFY(!!c<QGroupBox>("gbServiceOptions")->isHidden());

        // OK gives back the same record: nothing is lost on the way through the controls.
        QSignalSpy accepted(dlg.get(), &QDialog::accepted);
        c<QPushButton>("btnOk")->click();
        QCOMPARE(accepted.count(), 1);
        QVERIFY(dlg->record == r);
    }

    void okKeepsTheBytesOfUntouchedTextsAndStoresEditsAsUtf8() {
        ServerItem r = valid();
        r.name = "M\xFCller";  // Windows-1252, as older documents hold it
        r.description = "one\ntwo";
        r.sendText = "QUIT\n";
        r.recvText = "+OK\r\n";
        r.events.upCmdLine = "echo \x80";
        r.notify.downMsg = "\xC4rger mit %s\r\n";
        QVERIFY(okWith(r));
        QVERIFY(dlg->record == r);
        QCOMPARE(c<QLineEdit>("txtName")->text(), QStringLiteral("M\u00FCller"));
        QCOMPARE(c<QLineEdit>("txtUpCmd")->text(), QStringLiteral("echo \u20AC"));

        dlg->show();
        c<QLineEdit>("txtName")->setText(QStringLiteral("M\u00FCller 2"));
        c<QPlainTextEdit>("txtDescription")->setPlainText(QStringLiteral("three\nfour"));
        c<QPushButton>("btnOk")->click();
        QCOMPARE(dlg->record.name, std::string("M\xC3\xBCller 2"));
        QCOMPARE(dlg->record.description, std::string("three\r\nfour"));
        QCOMPARE(dlg->record.sendText, r.sendText);
        QCOMPARE(dlg->record.notify.downMsg, r.notify.downMsg);
    }

    void okChecksNameThenAddressThenPort() {
        ServerItem r;
        r.name = " ";  // blanks are a name
        QVERIFY(!okWith(r));
        r.address = "host";
        r.tcpPort = 0;
        QVERIFY(!okWith(r));
        r.name.clear();
        QVERIFY(!okWith(r));
        QCOMPARE(MessageBox::shownTexts(),
                 (QStringList{"Please enter an address (Computer Name) first.",
                              "Please enter a valid port first.", "Please enter a name first."}));
        ServerItem both;  // name and address both empty: only the first failure is reported
        MessageBox::clearShown();
        QVERIFY(!okWith(both));
        QCOMPARE(MessageBox::shownTexts(), QStringList{"Please enter a name first."});
        QCOMPARE(dlg->record, both);  // a refused OK writes nothing
    }

    void dependsOnRefusesARingAndKeepsNamesOfNoHost() {
        ServerItem core = valid();
        core.name = "core";
        ServerDoc doc;
        doc.append(valid(), {{"parents", "core"}});
        doc.append(core, {{"parents", "old-router"}});
        doc.append(valid());
        dlg->beside = hostEditFor(doc, 1);
        dlg->record = core;
        dlg->show();
        auto* parents = c<QListWidget>("lstParents");
        // The first name once (its twin means the same host), then the name that matches none.
        QCOMPARE(parents->count(), 2);
        QCOMPARE(parents->item(1)->text(), QStringLiteral("old-router"));
        QCOMPARE(parents->item(1)->checkState(), Qt::Checked);
        parents->item(0)->setCheckState(Qt::Checked);
        c<QPushButton>("btnOk")->click();
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{"A host cannot depend on itself, not even through others:\r\n"
                             "core -> " +
                             QString::fromStdString(valid().name) + " -> core"});
        parents->item(0)->setCheckState(Qt::Unchecked);
        QVERIFY(okWith(core));
        QCOMPARE(dlg->beside.extras, (HostExtras{{"parents", "old-router"}}));
    }

    void portRulesDependOnTheType() {
        ServerItem ping = valid();
        ping.type = HostPing;
        ping.tcpPort = 0;
        dlg->record = ping;
        dlg->show();
        c<QLineEdit>("txtTcpPort")->clear();
        c<QPushButton>("btnOk")->click();
        QCOMPARE(dlg->result(), int(QDialog::Accepted));
        QCOMPARE(dlg->record.tcpPort, 0);

        ServerItem big = valid();
        big.tcpPort = 99999;
        QVERIFY(okWith(big));
        QCOMPARE(dlg->record.tcpPort, 99999);
    }

    void webAndTlsSettingsNeedNoPortAndKeepOtherKeys() {
        ServerItem web = valid();
        web.tcpType = TcpHttpRequest;
        web.address = "https://localhost/health";
        web.tcpPort = 0;
        dlg->record = web;
        dlg->beside.extras = {{"http.status", "200-299"}, {"zz.other", "x"}};
        dlg->show();
        QVERIFY(c<QLineEdit>("txtTcpPort")->isHidden());
        QVERIFY(c<QComboBox>("cboTls")->isHidden());
        QCOMPARE(c<QLineEdit>("txtHttpStatus")->text(), QStringLiteral("200-299"));
        c<QCheckBox>("cbxMustNotContain")->setChecked(true);
        c<QComboBox>("cboHttpMethod")->setCurrentIndex(1);
        QVERIFY(c<QCheckBox>("cbxRedirects")->isChecked());
        c<QCheckBox>("cbxRedirects")->setChecked(false);
        c<QSpinBox>("spWarnDays")->setValue(0);
        c<QPushButton>("btnOk")->click();
        QCOMPARE(dlg->result(), int(QDialog::Accepted));
        QCOMPARE(dlg->beside.extras, (HostExtras{{"http.status", "200-299"},
                                                 {"http.must_not_contain", "1"},
                                                 {"http.method", "HEAD"},
                                                 {"http.redirects", "0"},
                                                 {"tls.warn_days", "0"},
                                                 {"zz.other", "x"}}));

        dlg->record = valid();
        dlg->beside.extras = {};
        dlg->show();
        QVERIFY(!c<QSpinBox>("spWarnDays")->isVisibleTo(c<QGroupBox>("gbTcpOptions")));
        c<QComboBox>("cboTls")->setCurrentIndex(2);
        QVERIFY(c<QSpinBox>("spWarnDays")->isVisibleTo(c<QGroupBox>("gbTcpOptions")));
        c<QPushButton>("btnOk")->click();
        QCOMPARE(dlg->beside.extras, (HostExtras{{"tls.mode", "starttls-smtp"}}));
    }

    void portEditKeepsOnlyDigits() {
        dlg->record = valid();
        dlg->show();
        auto* port = c<QLineEdit>("txtTcpPort");
        port->clear();
        port->setFocus();
        QTest::keyClicks(port, "8a0");
        QCOMPARE(port->text(), QStringLiteral("80"));
        port->setText(QStringLiteral("4x4-3"));  // as a paste arrives
        QCOMPARE(port->text(), QStringLiteral("443"));
    }

    void typeSwitchKeepsHiddenValues() {
        dlg->record = valid();
        dlg->show();
        auto* type = c<QComboBox>("cboType");
        c<QLineEdit>("txtTcpPort")->setText(QStringLiteral("8080"));
        c<QPlainTextEdit>("txtSendText")->setPlainText(QStringLiteral("PING"));
        c<QComboBox>("cboTcpType")->setCurrentIndex(2);
        type->setCurrentIndex(1);
        QVERIFY(!!c<QGroupBox>("gbTcpOptions")->isHidden());
        QVERIFY(!c<QGroupBox>("gbPingOptions")->isHidden());
        child<UpDown>(dlg.get(), "spRetries")->stepUp();
        type->setCurrentIndex(2);
        QVERIFY(!c<QGroupBox>("gbServiceOptions")->isHidden());
        c<QLineEdit>("txtService")->setText(QStringLiteral("dbus"));
        type->setCurrentIndex(0);
        QCOMPARE(c<QLineEdit>("txtTcpPort")->text(), QStringLiteral("8080"));
        c<QPushButton>("btnOk")->click();
        // Hidden groups are stored too.
        QCOMPARE(dlg->record.tcpPort, 8080);
        QCOMPARE(dlg->record.tcpType, TcpConnectSendReceive);
        QCOMPARE(dlg->record.sendText, std::string("PING"));
        QCOMPARE(dlg->record.numPings, 2);
        QCOMPARE(dlg->record.service, std::string("dbus"));
    }

    void spinnersKeepTheirRanges() {
        ServerItem r = valid();
        r.failuresAllowed = 100;
        r.numPings = 1;
        r.pingSeconds = 250;  // out of range: only a file can hold this
        dlg->record = r;
        dlg->show();
        child<UpDown>(dlg.get(), "spFailures")->stepUp();
        child<UpDown>(dlg.get(), "spRetries")->stepDown();
        QCOMPARE(c<QLineEdit>("txtFailures")->text(), QStringLiteral("100"));
        QCOMPARE(c<QLineEdit>("txtNumPings")->text(), QStringLiteral("1"));
        QCOMPARE(c<QLineEdit>("txtPingSeconds")->text(), QStringLiteral("10"));
        c<QPushButton>("btnOk")->click();
        QCOMPARE(dlg->record.pingSeconds, 10);
    }

    void cancelLeavesTheRecordAndTheNextShowingForgetsTheTyping() {
        const ServerItem r = valid();
        dlg->record = r;
        dlg->show();
        c<QLineEdit>("txtName")->setText(QStringLiteral("typed"));
        c<QPushButton>("btnCancel")->click();
        QCOMPARE(dlg->result(), int(QDialog::Rejected));
        QVERIFY(dlg->record == r);
        dlg->show();
        QCOMPARE(c<QLineEdit>("txtName")->text(), QStringLiteral("web"));
    }

    void testButtonsActOnlyOnFilledEdits() {
        dlg->record = valid();
        dlg->show();
        c<QPushButton>("btnTestUpSound")->click();
        c<QPushButton>("btnTestDownCmd")->click();
        QVERIFY(services.sounds.empty() && services.commands.empty());
        c<QLineEdit>("txtDownSound")->setText(QStringLiteral("/tmp/down.wav"));
        c<QLineEdit>("txtUpCmd")->setText(QStringLiteral("echo %s"));
        c<QPushButton>("btnTestDownSound")->click();
        c<QPushButton>("btnTestUpCmd")->click();
        QCOMPARE(services.sounds, std::vector<std::string>{"/tmp/down.wav"});
        // Templates are not expanded for a test.
        QCOMPARE(services.commands, std::vector<std::string>{"echo %s"});
    }

    void browseFillsTheFileNameEdit() {
        dlg->record = valid();
        dlg->show();
        FileDialog::setNextFileName(QStringLiteral("/usr/share/sounds/alert.wav"));
        c<QAbstractButton>("txtUpSoundBrowse")->click();
        QCOMPARE(c<QLineEdit>("txtUpSound")->text(), QStringLiteral("/usr/share/sounds/alert.wav"));
        auto* edit = qobject_cast<FileNameEdit*>(c<QLineEdit>("txtUpSound")->parentWidget());
        QVERIFY(edit != nullptr);
        QCOMPARE(edit->filter(), QStringLiteral("Wav Files|*.wav"));
        QCOMPARE(FileDialog::toQtFilter(edit->filter()), QStringLiteral("Wav Files (*.wav)"));
        c<QAbstractButton>("txtUpCmdBrowse")->click();  // cancelled: unchanged
        QCOMPARE(c<QLineEdit>("txtUpCmd")->text(), QString());
    }

    void findNeedsAnAddressAndReportsListingErrors() {
        ServerItem r = valid();
        r.address.clear();
        dlg->record = r;
        dlg->show();
        c<QPushButton>("btnFindService")->click();
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{"You must fill out an address on the \"General\" tab."});
        QVERIFY(services.machines.empty());
        c<QLineEdit>("txtAddress")->setText(QStringLiteral("nowhere"));
        services.listing.error = "Failed to open Service Control Manager for nowhere (113)";
        c<QPushButton>("btnFindServiceEvents")->click();
        QCOMPARE(MessageBox::shownTexts().last(),
                 QStringLiteral("Failed to open Service Control Manager for nowhere (113)"));
        QCOMPARE(services.machines, std::vector<std::string>{"nowhere"});
    }

    void findPutsTheServiceNameIntoTheFieldOfItsPage() {
        services.listing.lines = {"cron (Regular background program processing daemon) - Running",
                                  "dbus (D-Bus System Message Bus) - Running",
                                  "ssh (OpenBSD Secure Shell server) - Not Running"};
        services.listing.names = {"cron", "dbus", "ssh"};
        dlg->record = valid();
        dlg->show();
        QStringList shownLines;
        onModal<TListDlg>([&](TListDlg* l) {
            for (int i = 0; i < l->list()->count(); ++i) {
                shownLines.append(l->list()->item(i)->text());
            }
            l->list()->setCurrentRow(1);
            child<QPushButton>(l, "Button2")->click();
        });
        c<QPushButton>("btnFindServiceEvents")->click();
        QCOMPARE(shownLines.size(), 3);
        QCOMPARE(shownLines[1], QStringLiteral("dbus (D-Bus System Message Bus) - Running"));
        QCOMPARE(shownLines[2], QStringLiteral("ssh (OpenBSD Secure Shell server) - Not Running"));
        QCOMPARE(c<QLineEdit>("txtStartService")->text(), QStringLiteral("dbus"));
        QCOMPARE(c<QLineEdit>("txtService")->text(), QString());

        onModal<TListDlg>([](TListDlg* l) {
            l->list()->setCurrentRow(2);
            child<QPushButton>(l, "Button2")->click();
        });
        c<QPushButton>("btnFindService")->click();
        QCOMPARE(c<QLineEdit>("txtService")->text(), QStringLiteral("ssh"));

        onModal<TListDlg>([](TListDlg* l) { child<QPushButton>(l, "Button1")->click(); });
        c<QPushButton>("btnFindService")->click();
        QCOMPARE(c<QLineEdit>("txtService")->text(), QStringLiteral("ssh"));
    }

    void listDialogReturnsTheIndexOfTheChosenLine() {
        TListDlg l;
        QCOMPARE(l.windowTitle(), QStringLiteral("Service List"));
        QCOMPARE(l.selectedIndex, -1);
        l.lines = {"same", "same"};
        l.show();
        QCOMPARE(l.list()->count(), 2);
        QVERIFY(l.list()->selectedItems().isEmpty());
        child<QPushButton>(&l, "Button2")->click();
        QCOMPARE(MessageBox::shownTexts(), QStringList{"Select an item or cancel"});
        QVERIFY(l.isVisible());
        l.list()->setCurrentRow(1);
        child<QPushButton>(&l, "Button2")->click();
        QCOMPARE(l.result(), int(QDialog::Accepted));
        QCOMPARE(l.selectedIndex, 1);

        // Restored by the window manager, the dialog keeps its list and selection.
        l.show();
        l.list()->setCurrentRow(1);
        QShowEvent restored;
        qt_sendSpontaneousEvent(&l, &restored);
        QCOMPARE(l.list()->currentRow(), 1);
        QCOMPARE(l.list()->selectedItems().size(), 1);
        l.hide();

        // A later showing starts without a selection and Cancel keeps the old index.
        l.lines = {};
        l.show();
        QCOMPARE(l.list()->count(), 0);
        child<QPushButton>(&l, "Button2")->click();
        QVERIFY(l.isVisible());
        child<QPushButton>(&l, "Button1")->click();
        QCOMPARE(l.result(), int(QDialog::Rejected));
        QCOMPARE(l.selectedIndex, 1);
    }

    void listDialogGrowsWithItsWindow() {
        TListDlg l;
        l.show();
        QCOMPARE(l.size(), QSize(310, 380));
        auto* ok = child<QPushButton>(&l, "Button2");
        auto* cancel = child<QPushButton>(&l, "Button1");
        const int listHeight = l.list()->height();
        const QPoint fromCorner = QPoint(l.width(), l.height()) - cancel->geometry().bottomRight();
        l.resize(500, 600);
        QTest::qWait(20);
        QVERIFY(l.list()->height() > listHeight);
        QCOMPARE(QPoint(l.width(), l.height()) - cancel->geometry().bottomRight(), fromCorner);
        QVERIFY(ok->geometry().right() < cancel->geometry().left());
    }

    void aboutBoxShowsTheProduct() {
        TAboutBox about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Vardomon"));
        QCOMPARE(about.size(), QSize(295, 296));
        auto* product = child<QLabel>(&about, "ProductName");
        QCOMPARE(product->text(), QStringLiteral("Kestrune Vardomon 3.1"));
        QVERIFY(product->font().bold());
        QCOMPARE(product->font().pixelSize(), 16);
        about.show();
        child<QPushButton>(&about, "btnCancel")->click();
        QVERIFY(!about.isVisible());
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
