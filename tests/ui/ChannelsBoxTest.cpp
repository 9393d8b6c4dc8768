// The Channels list of the Configuration View: Add, Edit and Remove through the channel
// dialog, and Send Test against a recording web service on 127.0.0.1.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "UiTestHelpers.h"
#include "support/HttpReceiver.h"
#include "ui/ChannelDialog.h"
#include "ui/ChannelsBox.h"
#include "ui/MessageBox.h"

class ChannelsBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        MessageBox::setTestMode(true);
        MessageBox::clearShown();
    }

    void addEditAndRemoveChangeTheLiveSettings() {
        LiveConfig cfg;
        ChannelsBox box;
        box.setConfig(cfg);
        auto fill = [](ChannelDialog* d, const char* name) {
            child<QLineEdit>(d, "txtChannelName")->setText(QString::fromLatin1(name));
            child<QComboBox>(d, "cboChannelKind")->setCurrentText(QStringLiteral("slack"));
            child<QLineEdit>(d, "txtChannelUrl")->setText(QStringLiteral("https://chat.example/hooks/1"));
            child<QLineEdit>(d, "txtChannelHosts")->setText(QStringLiteral("web-*, db?"));
        };
        onModal<ChannelDialog>([&](ChannelDialog* d) {
            fill(d, "chat");
            d->accept();
        });
        child<QPushButton>(&box, "btnChannelAdd")->click();
        QCOMPARE(cfg.extra().channels.size(), std::size_t{1});
        QCOMPARE(cfg.extra().channels[0].kind, ChannelKind::Slack);
        QCOMPARE(cfg.extra().channels[0].hosts, (std::vector<std::string>{"web-*", "db?"}));

        // A second channel of the same name, or one without its address, is not taken.
        onModal<ChannelDialog>([&](ChannelDialog* d) {
            fill(d, "chat");
            d->accept();
            child<QLineEdit>(d, "txtChannelName")->setText(QStringLiteral("team"));
            child<QLineEdit>(d, "txtChannelUrl")->clear();
            d->accept();
            QVERIFY(d->isVisible());
            d->reject();
        });
        child<QPushButton>(&box, "btnChannelAdd")->click();
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList({QStringLiteral("Another channel is already named chat."),
                              QStringLiteral("url must be an http:// or https:// address.")}));
        QCOMPARE(cfg.extra().channels.size(), std::size_t{1});

        onModal<ChannelDialog>([&](ChannelDialog* d) {
            QCOMPARE(child<QLineEdit>(d, "txtChannelName")->text(), QStringLiteral("chat"));
            child<QLineEdit>(d, "txtChannelName")->setText(QStringLiteral("team"));
            d->accept();
        });
        child<QPushButton>(&box, "btnChannelEdit")->click();
        QCOMPARE(cfg.extra().channels.at(0).name, std::string("team"));
        QCOMPARE(child<QListWidget>(&box, "lstChannels")->item(0)->text(), QStringLiteral("team (slack)"));

        child<QPushButton>(&box, "btnChannelRemove")->click();
        QVERIFY(cfg.extra().channels.empty());
        QCOMPARE(child<QListWidget>(&box, "lstChannels")->count(), 0);
    }

    void sendTestTriesOnceAndShowsTheOutcome() {
        HttpReceiver receiver({204, 500});
        ChannelSettings hook;
        hook.name = "hook";
        hook.url = receiver.url("/in");
        LiveConfig cfg;
        cfg.updateExtra([&](Settings& s) { s.channels = {hook}; });
        ChannelsBox box;
        box.setConfig(cfg);
        auto* send = child<QPushButton>(&box, "btnChannelTest");
        send->click();
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("The test notification was delivered to hook.")});
        QCOMPARE(receiver.requests().size(), std::size_t{1});
        QVERIFY(receiver.requests()[0].body.starts_with(R"({"event":"test",)"));

        MessageBox::clearShown();
        send->click();
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral("The test notification to hook failed: HTTP 500 Internal Server Error")});
        QCOMPARE(receiver.requests().size(), std::size_t{2});
        QVERIFY(send->isEnabled());
    }
};

QTEST_MAIN(ChannelsBoxTest)
#include "ChannelsBoxTest.moc"
