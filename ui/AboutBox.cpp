#include "ui/AboutBox.h"

#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/ImageList.h"

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About Vardomon"));
    setFixedSize(295, 296);

    auto* product = new QLabel(QStringLiteral("Kestrune Vardomon 3.1"), this);
    product->setObjectName(QStringLiteral("ProductName"));
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::Courier);
    font.setBold(true);
    font.setPixelSize(16);
    product->setFont(font);
    product->setAlignment(Qt::AlignCenter);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("ProgramIcon"));
    picture->setPixmap(ImageList::appIcon().pixmap(64, 64));
    picture->setAlignment(Qt::AlignCenter);

    auto* comments = new QLabel(
        QStringLiteral("Watches a list of network hosts and tells you when one goes down or comes back up."),
        this);
    comments->setObjectName(QStringLiteral("Comments"));
    comments->setWordWrap(true);
    comments->setAlignment(Qt::AlignCenter);

    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    auto* main = new QVBoxLayout(this);
    main->addWidget(product);
    main->addSpacing(12);
    main->addWidget(picture);
    main->addWidget(comments);
    main->addStretch(1);
    main->addLayout(buttons);
}
