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
    // Widens each column, where the grid's font needs it, to show its caption and the texts
    // given for it (texts[c] for column c) whole; no column gets narrower.
    void fitColumns(const std::vector<QStringList>& texts = {});
    // All columns side by side, with the frame and a vertical scroll bar.
    int columnsWidth() const;
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
