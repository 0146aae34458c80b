// The calvora program: parses the command line, then hands over to the application object.
#include "app/gui/calvora_application.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication::setApplicationName(QStringLiteral("Calvora"));
    QApplication::setApplicationVersion(QStringLiteral("2.1.0"));
    // Ties the windows to the installed menu entry (Wayland docks and task bars look it up by this id).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.calvora.Calvora"));

    // Parsed before the window system is reached, so --help and --version work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const calvora::ParsedCommandLine parsed = calvora::ParseCommandLine(arguments);
    switch (parsed.outcome) {
    case calvora::ParseOutcome::ShowHelp:
    case calvora::ParseOutcome::ShowVersion:
        std::fputs(parsed.text.toLocal8Bit().constData(), stdout);
        return 0;
    case calvora::ParseOutcome::Error:
        std::fprintf(stderr, "calvora: %s\n", parsed.text.toLocal8Bit().constData());
        return 2;
    case calvora::ParseOutcome::Run:
        break;
    }

    QApplication application(argc, argv);
    calvora::CalvoraApplication app;
    if (!app.InitInstance(parsed.options)) {
        return 1;
    }
    return QApplication::exec();
}
