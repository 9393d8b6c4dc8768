#include "ui/SpinEdit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/Vardo.h"

UpDown::UpDown(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(16, 11);
        b->setIconSize(QSize(8, 6));
        box->addWidget(b);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setObjectName(QStringLiteral("up"));
    down_->setObjectName(QStringLiteral("down"));
    connect(up_, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &UpDown::stepDown);
}

void UpDown::setRange(int minimum, int maximum) {
    min_ = minimum;
    max_ = std::max(minimum, maximum);
    setPosition(pos_);
}

void UpDown::setPosition(int position) {
    const int clamped = std::clamp(position, min_, max_);
    pos_ = clamped;
    if (buddy_ != nullptr) {
        buddy_->setText(QString::number(clamped));
    }
    emit positionChanged(clamped);
}

void UpDown::step(int direction) {
    // The edit may have been typed into since the last step: continue from its number.
    int from = pos_;
    if (buddy_ != nullptr) {
        from = std::clamp(static_cast<int>(atolText(buddy_->text().toStdString())), min_, max_);
    }
    setPosition(from + direction);
}

SpinEdit::SpinEdit(const QString& editName, const QString& spinName, QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), spin_(new UpDown(this)) {
    edit_->setObjectName(editName);
    spin_->setObjectName(spinName);
    spin_->setBuddy(edit_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    row->addWidget(edit_, 1);
    row->addWidget(spin_);
    setFocusProxy(edit_);
    edit_->installEventFilter(this);
}

void SpinEdit::setReadOnly(bool on) {
    edit_->setReadOnly(on);
}

bool SpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up) {
            spin_->stepUp();
            return true;
        }
        if (key->key() == Qt::Key_Down) {
            spin_->stepDown();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
