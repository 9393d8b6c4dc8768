#include "ui/GridView.h"

#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

GridView::GridView(const QString& name, bool verticalLines, QWidget* parent)
    : QTreeView(parent), verticalLines_(verticalLines) {
    setObjectName(name);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);  // keeps ten thousand rows cheap to lay out
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(16, 16));
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

void GridView::setGridModel(QAbstractItemModel* model, const std::vector<int>& widths) {
    setModel(model);
    for (std::size_t i = 0; i < widths.size(); ++i) {
        setColumnWidth(static_cast<int>(i), widths[i]);
    }
}

void GridView::fitColumns(const std::vector<QStringList>& texts) {
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    base.features |= QStyleOptionViewItem::HasDisplay;
    for (int c = 0; c < header()->count(); ++c) {
        int width = std::max(columnWidth(c), header()->sectionSizeHint(c));
        if (static_cast<std::size_t>(c) < texts.size()) {
            for (const QString& text : texts[static_cast<std::size_t>(c)]) {
                QStyleOptionViewItem option = base;
                option.text = text;
                if (c == 0) {
                    // The first column carries the row's icon.
                    option.features |= QStyleOptionViewItem::HasDecoration;
                    option.decorationSize = iconSize();
                }
                width = std::max(
                    width,
                    style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).width());
            }
        }
        setColumnWidth(c, width);
    }
}

int GridView::columnsWidth() const {
    int width = 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < header()->count(); ++c) {
        width += columnWidth(c);
    }
    return width;
}

int GridView::firstSelectedRow() const {
    if (selectionModel() == nullptr) {
        return -1;
    }
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        if (first < 0 || index.row() < first) {
            first = index.row();
        }
    }
    return first;
}

void GridView::keepSelectionVisible() {
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
}

void GridView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index) const {
    QTreeView::drawRow(painter, option, index);
    painter->save();
    painter->setPen(QColor(0xd0, 0xd0, 0xd0));
    const QRect r = option.rect;
    painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    if (verticalLines_) {
        const QHeaderView* h = header();
        for (int c = 0; c < h->count(); ++c) {
            const int x = h->sectionViewportPosition(c) + h->sectionSize(c) - 1;
            painter->drawLine(x, r.top(), x, r.bottom());
        }
    }
    painter->restore();
}
