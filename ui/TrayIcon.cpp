#include "ui/TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

#include "ui/ImageList.h"

namespace {

int imageOf(Lamp lamp) {
    using namespace ImageList::Image;
    switch (lamp) {
        case Lamp::Red:
            return RedLamp;
        case Lamp::Yellow:
            return YellowLamp;
        case Lamp::Green:
            return GreenLamp;
        case Lamp::Grey:
            break;
    }
    return GreyLamp;
}

}  // namespace

TrayIcon::TrayIcon(QAction* startStop, QAction* checkNow, QAction* exit, QObject* parent)
    : QObject(parent), menu_(new QMenu), icon_(new QSystemTrayIcon(this)) {
    menu_->setObjectName(QStringLiteral("mnuTray"));
    QAction* show = menu_->addAction(QStringLiteral("S&how"));
    show->setObjectName(QStringLiteral("mnuTrayShow"));
    menu_->addSeparator();
    menu_->addAction(startStop);
    menu_->addAction(checkNow);
    menu_->addSeparator();
    menu_->addAction(exit);
    connect(show, &QAction::triggered, this, &TrayIcon::showWindow);

    icon_->setObjectName(QStringLiteral("trayIcon"));
    icon_->setContextMenu(menu_);
    icon_->setIcon(ImageList::icon(imageOf(lamp_)));
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            emit showWindow();
        }
    });
}

TrayIcon::~TrayIcon() {
    // The menu has no parent widget (a tray menu must not belong to the window it restores).
    delete menu_;
}

void TrayIcon::setWanted(bool wanted) {
    // Wanted but without a tray (a panel that starts after the program): the icon goes into
    // the tray once there is one.
    icon_->setVisible(wanted);
}

bool TrayIcon::isShown() const {
    return icon_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::update(const HostTally& tally, bool running, int muted) {
    const Lamp lamp = lampFor(tally, running);
    if (lamp != lamp_) {
        lamp_ = lamp;
        icon_->setIcon(ImageList::icon(imageOf(lamp)));
    }
    QString tip = QString::fromStdString(summaryText(tally, running));
    if (muted > 0) {
        tip += QStringLiteral(", %1 muted").arg(muted);
    }
    if (tip != icon_->toolTip()) {
        icon_->setToolTip(tip);
    }
}

QString TrayIcon::toolTip() const {
    return icon_->toolTip();
}
