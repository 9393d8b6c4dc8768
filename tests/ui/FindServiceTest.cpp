// The host dialog's Find and Test buttons through the program's own services: the service
// listing against python3-dbusmock's systemd on a private bus standing in for the system
// bus, and the test command through the shell.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "UiTestHelpers.h"
#include "app/SystemComponents.h"
#include "support/DbusMock.h"
#include "support/TempDir.h"
#include "ui/HostDialog.h"
#include "ui/ListDialog.h"
#include "ui/MessageBox.h"

class FindServiceTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<DbusMock> bus;
    std::unique_ptr<SystemdMock> systemd;
    std::unique_ptr<DialogServices> services;
    std::unique_ptr<TListDlg> list;
    std::unique_ptr<TAddHostDlg> dlg;

    // Picks the line that starts with prefix, or cancels when there is none.
    static void choose(const QString& prefix, QStringList* seen) {
        onModal<TListDlg>([prefix, seen](TListDlg* l) {
            for (int i = 0; i < l->list()->count(); ++i) {
                seen->append(l->list()->item(i)->text());
                if (l->list()->item(i)->text().startsWith(prefix)) {
                    l->list()->setCurrentRow(i);
                }
            }
            child<QPushButton>(l, l->list()->currentRow() >= 0 ? "Button2" : "Button1")->click();
        });
    }

  private slots:
    void initTestCase() {
        MessageBox::setTestMode(true);
        bus = std::make_unique<DbusMock>();
        systemd = std::make_unique<SystemdMock>(*bus);
        systemd->addUnit({"cron.service", "Regular background program processing daemon", "active"});
        systemd->addUnit({"dbus.service", "D-Bus System Message Bus", "active"});
        systemd->addUnit({"ssh.service", "OpenBSD Secure Shell server", "inactive"});
        services = makeSystemDialogServices();
        list = std::make_unique<TListDlg>();
        dlg = std::make_unique<TAddHostDlg>(*services, *list);
    }
    void cleanupTestCase() {
        dlg.reset();
        list.reset();
        services.reset();
        systemd.reset();
        bus.reset();
    }

    void findFillsTheFieldOfThePageItWasPressedOn() {
        ServerItem r;
        r.name = "bus";
        r.address = "localhost";
        r.type = HostService;
        dlg->record = r;
        dlg->show();

        QStringList seen;
        choose(QStringLiteral("ssh "), &seen);
        child<QPushButton>(dlg.get(), "btnFindService")->click();
        QCOMPARE(seen, (QStringList{"cron (Regular background program processing daemon) - Running",
                                    "dbus (D-Bus System Message Bus) - Running",
                                    "ssh (OpenBSD Secure Shell server) - Not Running"}));
        QCOMPARE(child<QLineEdit>(dlg.get(), "txtService")->text(), QStringLiteral("ssh"));

        seen.clear();
        choose(QStringLiteral("dbus "), &seen);
        child<QPushButton>(dlg.get(), "btnFindServiceEvents")->click();
        QCOMPARE(child<QLineEdit>(dlg.get(), "txtStartService")->text(), QStringLiteral("dbus"));
        QCOMPARE(child<QLineEdit>(dlg.get(), "txtService")->text(), QStringLiteral("ssh"));

        child<QPushButton>(dlg.get(), "btnOk")->click();
        QCOMPARE(dlg->record.service, std::string("ssh"));
        QCOMPARE(dlg->record.events.startServiceName, std::string("dbus"));
        QVERIFY(MessageBox::shownTexts().isEmpty());
    }

    void testCommandRunsThroughTheShellAndWaits() {
        TempDir dir;
        dlg->record = ServerItem{};
        dlg->show();
        const std::string marker = dir.file("ran");
        child<QLineEdit>(dlg.get(), "txtDownCmd")
            ->setText(QString::fromStdString("sleep 0.2 && echo %s > '" + marker + "'"));
        child<QPushButton>(dlg.get(), "btnTestDownCmd")->click();
        // Waited for, and passed as typed: no template expansion.
        QCOMPARE(readFileBytes(marker), std::string("%s\n"));
        dlg->reject();
    }

    void aListingFailureIsShownWithItsReason() {
        dlg->record = ServerItem{};
        dlg->record.address = "localhost";
        dlg->show();
        systemd->failListings("org.freedesktop.DBus.Error.AccessDenied");
        child<QPushButton>(dlg.get(), "btnFindService")->click();
        systemd->failListings("");
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        QVERIFY(MessageBox::shownTexts().front().startsWith(
            QStringLiteral("Failed to list services for localhost (")));
        dlg->reject();
    }

    // A machine slow to list its services: the dialog keeps handling events under a busy
    // cursor, takes no OK meanwhile, and its Cancel ends the search, not the dialog.
    void findWaitsWithoutFreezingAndCancelEndsTheSearch() {
        dlg->record = ServerItem{};
        dlg->record.address = "localhost";
        dlg->show();
        MessageBox::clearShown();
        systemd->delayNextListing(3);
        bool busy = false;
        bool okTaken = true;
        QTimer::singleShot(300, [&] {
            busy = QApplication::overrideCursor() != nullptr &&
                   QApplication::overrideCursor()->shape() == Qt::BusyCursor;
            okTaken = child<QPushButton>(dlg.get(), "btnOk")->isEnabled();
            if (auto* l = qobject_cast<TListDlg*>(QApplication::activeModalWidget())) {
                l->reject();  // a search that froze the dialog has shown its list by now
            }
            child<QPushButton>(dlg.get(), "btnCancel")->click();
        });
        QElapsedTimer waited;
        waited.start();
        child<QPushButton>(dlg.get(), "btnFindService")->click();
        QVERIFY(busy);
        QVERIFY(!okTaken);
        QVERIFY(waited.elapsed() < 2000);
        QVERIFY(dlg->isVisible());
        QVERIFY(MessageBox::shownTexts().isEmpty());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(child<QPushButton>(dlg.get(), "btnOk")->isEnabled());
        dlg->reject();
        QVERIFY(!dlg->isVisible());
    }
};

QTEST_MAIN(FindServiceTest)
#include "FindServiceTest.moc"
