// The service list dialog: shows lines and returns the index of the one picked with OK.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>

class QListWidget;
class QPushButton;

class TListDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TListDlg(QWidget* parent = nullptr);

    // Set by the caller before each showing.
    QStringList lines;
    // The line chosen with OK; valid only after an OK result (not reset between showings).
    std::int32_t selectedIndex = -1;

    QListWidget* list() const { return lbList_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void FormShow();
    void Button2Click();

    QListWidget* lbList_;
    QPushButton* Button2_;
    QPushButton* Button1_;
};
