// File open and save dialogs. Filters are written as "Description|*.ext" pairs. Tests fill
// in the next file name (an empty one cancels), so no test waits in a modal dialog.
#pragma once

#include <QString>

class QWidget;

class FileDialog {
  public:
    // The chosen path, or an empty string when the dialog was cancelled.
    static QString getOpenFileName(QWidget* parent, const QString& filter);
    static QString getSaveFileName(QWidget* parent, const QString& filter);

    // "Vardomon Files|*.vdm" as Qt writes it: "Vardomon Files (*.vdm)".
    static QString toQtFilter(const QString& filter);

    // Test hooks: the next dialog returns this name at once without showing. While test
    // mode is on, a dialog with no queued name is cancelled.
    static void setTestMode(bool on);
    static void setNextFileName(const QString& name);
    static int shownCount();
};
