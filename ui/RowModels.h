// The grids' models: read-only tables over the rows of core/Presentation.h, with the row's
// icon in the first column and its text colour in every column.
#pragma once

#include <QAbstractTableModel>
#include <QBrush>
#include <QColor>
#include <array>
#include <cstddef>
#include <vector>

#include "core/Presentation.h"
#include "ui/DisplayText.h"
#include "ui/ImageList.h"

template <typename Row, std::size_t Columns>
class RowTableModel : public QAbstractTableModel {
  public:
    RowTableModel(const std::array<ColumnSpec, Columns>& columns, QObject* parent)
        : QAbstractTableModel(parent), columns_(columns) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(Columns);
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
            return {};
        }
        const Row& row = rows_[static_cast<std::size_t>(index.row())];
        switch (role) {
            case Qt::DisplayRole:
                return displayText(row.cells[static_cast<std::size_t>(index.column())]);
            case Qt::DecorationRole:
                return index.column() == 0 ? QVariant(ImageList::icon(row.icon)) : QVariant();
            case Qt::ForegroundRole:
                return colourOf(row.colour);
            default:
                return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(Columns)) {
            return {};
        }
        if (role == Qt::DisplayRole) {
            return QString::fromLatin1(columns_[static_cast<std::size_t>(section)].caption);
        }
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) {
            return Qt::NoItemFlags;
        }
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    }

    const std::vector<Row>& rows() const { return rows_; }
    int columnWidth(int column) const { return columns_[static_cast<std::size_t>(column)].width; }

    // Empties the grid and fills it with rows.
    void setRows(std::vector<Row> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    // The row to change in place, or null when the grid has no such row; announce the
    // change with rowsChanged.
    Row* rowAt(std::size_t row) { return row < rows_.size() ? &rows_[row] : nullptr; }
    void rowsChanged(int first, int last) {
        emit dataChanged(index(first, 0), index(last, static_cast<int>(Columns) - 1));
    }

  private:
    static QVariant colourOf(RowColour colour) {
        switch (colour) {
            case RowColour::Black:
                return QBrush(QColor(0, 0, 0));
            case RowColour::Red:
                return QBrush(QColor(255, 0, 0));
            case RowColour::Default:
                break;
        }
        return {};
    }

    std::array<ColumnSpec, Columns> columns_;
    std::vector<Row> rows_;
};

using ResultGridModel = RowTableModel<ResultRow, kResultColumns.size()>;
using HostGridModel = RowTableModel<HostRow, kHostColumns.size()>;
