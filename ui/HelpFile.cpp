#include "ui/HelpFile.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

QString helpFilePath() {
    const QString dir = QCoreApplication::applicationDirPath();
    const QString beside = QDir(dir).filePath(QStringLiteral("KsVardomon.html"));
    if (QFileInfo::exists(beside)) {
        return beside;
    }
    // An installed program keeps its documentation under share/, not beside the binary.
    const QString installed =
        QDir(dir).filePath(QStringLiteral("../share/doc/kestrune-vardomon/KsVardomon.html"));
    if (QFileInfo::exists(installed)) {
        return QDir::cleanPath(installed);
    }
    return beside;
}

void openHelpFile() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(helpFilePath()));
}
