// An edit tied to an up-down spinner. The spinner has a range and a position; its arrows
// (and the Up and Down keys in the edit) move the position by one step within the range
// and write it into the edit as decimal text. The edit may hold any text: whoever reads it
// reads it as atol does. A read-only edit gets its text from the spinner alone.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

class UpDown : public QWidget {
    Q_OBJECT
  public:
    explicit UpDown(QWidget* parent = nullptr);

    void setRange(int minimum, int maximum);
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int position() const { return pos_; }
    // Clamps to the range.
    void setPosition(int position);

    // One step up or down, starting from the number in the tied edit.
    void stepUp() { step(+1); }
    void stepDown() { step(-1); }

    void setBuddy(QLineEdit* edit) { buddy_ = edit; }

  signals:
    void positionChanged(int position);

  private:
    void step(int direction);

    QToolButton* up_;
    QToolButton* down_;
    QLineEdit* buddy_ = nullptr;
    int min_ = 0;
    int max_ = 100;
    int pos_ = 0;
};

class SpinEdit : public QWidget {
    Q_OBJECT
  public:
    // editName and spinName become the object names of the edit and the spinner.
    SpinEdit(const QString& editName, const QString& spinName, QWidget* parent = nullptr);

    QLineEdit* edit() const { return edit_; }
    UpDown* spinner() const { return spin_; }
    void setReadOnly(bool on);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLineEdit* edit_;
    UpDown* spin_;
};
