// A read-only grid: a flat tree view with whole-row selection, an icon per row, no tree
// lines, and grid lines drawn between rows (and between columns when asked).
#pragma once

#include <QTreeView>

class GridView : public QTreeView {
    Q_OBJECT
  public:
    GridView(const QString& name, bool verticalLines, QWidget* parent = nullptr);

    // Sets the model and the columns' initial widths.
    void setGridModel(QAbstractItemModel* model, const std::vector<int>& widths);
    // Row of the first selected row, or -1.
    int firstSelectedRow() const;
    // Keeps the selection coloured as when focused after the grid loses focus.
    void keepSelectionVisible();

  protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

  private:
    bool verticalLines_;
};
