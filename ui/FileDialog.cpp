#include "ui/FileDialog.h"

#include <QFileDialog>
#include <QStringList>
#include <deque>

namespace {

struct TestHooks {
    bool on = false;
    std::deque<QString> names;
    int shown = 0;
};

TestHooks& hooks() {
    static TestHooks h;
    return h;
}

bool scripted(QString& name) {
    TestHooks& h = hooks();
    if (!h.on && h.names.empty()) {
        return false;
    }
    ++h.shown;
    if (!h.names.empty()) {
        name = h.names.front();
        h.names.pop_front();
    }
    return true;
}

}  // namespace

QString FileDialog::toQtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out.append(parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return out.join(QStringLiteral(";;"));
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& filter) {
    QString name;
    if (scripted(name)) {
        return name;
    }
    return QFileDialog::getOpenFileName(parent, QString(), QString(), toQtFilter(filter));
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& filter) {
    QString name;
    if (scripted(name)) {
        return name;
    }
    // No default extension: the document adds ".vdm" itself to a name without a dot.
    return QFileDialog::getSaveFileName(parent, QString(), QString(), toQtFilter(filter));
}

void FileDialog::setTestMode(bool on) {
    hooks().on = on;
}
void FileDialog::setNextFileName(const QString& name) {
    hooks().names.push_back(name);
}
int FileDialog::shownCount() {
    return hooks().shown;
}
