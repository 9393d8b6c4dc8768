#include "ui/ParentsEdit.h"

#include <QByteArray>
#include <QListWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/DisplayText.h"

namespace {

constexpr int kBytesRole = Qt::UserRole;

}  // namespace

ParentsEdit::ParentsEdit(QWidget* parent) : QWidget(parent), list_(new QListWidget(this)) {
    list_->setObjectName(QStringLiteral("lstParents"));
    list_->setToolTip(QStringLiteral("No alert for this host while one of the hosts ticked here is down"));
    // A few rows: the description above keeps most of the page.
    list_->setMaximumHeight(list_->fontMetrics().height() * 4 + 2 * list_->frameWidth() + 4);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
}

void ParentsEdit::show(const std::vector<std::string>& candidates, const std::vector<std::string>& chosen) {
    list_->clear();
    const auto add = [this](const std::string& name, bool ticked, bool known) {
        auto* item = new QListWidgetItem(displayText(name), list_);
        item->setData(kBytesRole, QByteArray::fromStdString(name));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
        if (!known) {
            item->setToolTip(QStringLiteral("No host of this document has this name"));
            QFont font = item->font();
            font.setItalic(true);
            item->setFont(font);
        }
    };
    for (const std::string& name : candidates) {
        add(name, std::find(chosen.begin(), chosen.end(), name) != chosen.end(), true);
    }
    for (const std::string& name : chosen) {
        if (std::find(candidates.begin(), candidates.end(), name) == candidates.end()) {
            add(name, true, false);
        }
    }
}

std::vector<std::string> ParentsEdit::chosen() const {
    std::vector<std::string> names;
    for (int i = 0; i < list_->count(); ++i) {
        const QListWidgetItem* item = list_->item(i);
        if (item->checkState() == Qt::Checked) {
            names.push_back(item->data(kBytesRole).toByteArray().toStdString());
        }
    }
    return names;
}
