// Kestrune Vardomon: starts the main window, opens the document named on the command line
// (if any) once the window is up, and runs until the window closes.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string_view>

#include "app/SystemComponents.h"
#include "platform/ConfigLocation.h"
#include "ui/ImageList.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"

namespace {

// The text of an exception as the error box shows it: with a full stop unless it already
// ends in one (or in something that sorts before it).
QString errorText(const std::exception& e) {
    QString text = QString::fromLocal8Bit(e.what());
    if (!text.isEmpty() && text.back() > QLatin1Char('.')) {
        text.append(QLatin1Char('.'));
    }
    return text;
}

class VardoApplication : public QApplication {
  public:
    using QApplication::QApplication;

    // An exception that escapes a handler is shown and the program goes on.
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            MessageBox::error(nullptr, errorText(e));
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    // Inherited from a parent that ignores it, SIGCHLD ignored would reap the commands before
    // their exit status is read.
    std::signal(SIGCHLD, SIG_DFL);
    // Answered before the toolkit starts, so it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--version") {
            std::printf("Kestrune Vardomon %s\n", VARDO_VERSION);
            return 0;
        }
    }
    VardoApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrune Vardomon"));
    QApplication::setApplicationVersion(QStringLiteral(VARDO_VERSION));
    QApplication::setWindowIcon(ImageList::appIcon());
    QApplication::setDesktopFileName(QStringLiteral("kestrune-vardomon"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A desktop network monitor."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("document"), QStringLiteral("A .vdm host list to open."),
                                 QStringLiteral("[document]"));
    parser.process(app);

    try {
        const std::unique_ptr<DialogServices> services = makeSystemDialogServices();
        TForm1 window(configFilePath(), makeSystemComponents, *services);
        const QStringList args = parser.positionalArguments();
        if (!args.isEmpty()) {
            window.setStartupDocument(QFile::encodeName(args.front()).toStdString());
        }
        window.show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        MessageBox::error(nullptr, errorText(e));
        return 1;
    }
}
