#include "ui/ListDialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/MessageBox.h"

TListDlg::TListDlg(QWidget* parent)
    : QDialog(parent),
      lbList_(new QListWidget(this)),
      Button2_(new QPushButton(QStringLiteral("&OK"), this)),
      Button1_(new QPushButton(QStringLiteral("&Cancel"), this)) {
    setObjectName(QStringLiteral("ListDlg"));
    setWindowTitle(QStringLiteral("Service List"));
    resize(310, 380);
    lbList_->setObjectName(QStringLiteral("lbList"));
    lbList_->setSelectionMode(QAbstractItemView::SingleSelection);
    lbList_->setSortingEnabled(false);
    Button2_->setObjectName(QStringLiteral("Button2"));
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button2_->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button2_);
    buttons->addWidget(Button1_);
    auto* main = new QVBoxLayout(this);
    main->addWidget(lbList_, 1);
    main->addLayout(buttons);

    connect(Button2_, &QPushButton::clicked, this, &TListDlg::Button2Click);
    connect(Button1_, &QPushButton::clicked, this, &QDialog::reject);
    // A double-click picks the line as OK does.
    connect(lbList_, &QListWidget::itemDoubleClicked, this, &TListDlg::Button2Click);
}

void TListDlg::showEvent(QShowEvent* event) {
    // Spontaneous show events (the window manager restoring the dialog) are no new showing:
    // the list and its selection stay.
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

void TListDlg::FormShow() {
    lbList_->clear();
    lbList_->addItems(lines);
    lbList_->setCurrentRow(-1);
    lbList_->clearSelection();
}

void TListDlg::Button2Click() {
    const QList<QListWidgetItem*> chosen = lbList_->selectedItems();
    if (chosen.isEmpty()) {
        MessageBox::untitled(this, QStringLiteral("Select an item or cancel"));
        return;
    }
    selectedIndex = lbList_->row(chosen.front());
    accept();
}
