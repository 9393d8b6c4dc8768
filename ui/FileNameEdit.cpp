#include "ui/FileNameEdit.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

#include "ui/FileDialog.h"

FileNameEdit::FileNameEdit(const QString& editName, const QString& filter, QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), browse_(new QToolButton(this)), filter_(filter) {
    edit_->setObjectName(editName);
    browse_->setObjectName(editName + QStringLiteral("Browse"));
    browse_->setText(QStringLiteral("..."));
    browse_->setToolTip(QStringLiteral("Browse"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addWidget(edit_, 1);
    row->addWidget(browse_);
    setFocusProxy(edit_);
    connect(browse_, &QToolButton::clicked, this, &FileNameEdit::browse);
}

QString FileNameEdit::text() const {
    return edit_->text();
}
void FileNameEdit::setText(const QString& text) {
    edit_->setText(text);
}

void FileNameEdit::browse() {
    const QString chosen = FileDialog::getOpenFileName(this, filter_);
    if (!chosen.isEmpty()) {
        edit_->setText(chosen);
    }
}
