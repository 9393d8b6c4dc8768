// A text edit with a browse button: the button opens a file-open dialog with the edit's
// filter ("Wav Files|*.wav", or none) and puts the chosen path into the edit.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

class FileNameEdit : public QWidget {
    Q_OBJECT
  public:
    // The edit gets editName as its object name, the button editName + "Browse".
    FileNameEdit(const QString& editName, const QString& filter, QWidget* parent = nullptr);

    QLineEdit* edit() const { return edit_; }
    QToolButton* browseButton() const { return browse_; }
    QString text() const;
    void setText(const QString& text);
    QString filter() const { return filter_; }

    // What the browse button does.
    void browse();

  private:
    QLineEdit* edit_;
    QToolButton* browse_;
    QString filter_;
};
