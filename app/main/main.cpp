// The calvora program: parses the command line, then hands over to the application object.
#include "app/gui/strivon_app.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Calvora"));
    QApplication::setApplicationVersion(QStringLiteral("2.1.0"));

    const calvora::ParsedCommandLine parsed = calvora::ParseCommandLine(QApplication::arguments());
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

    calvora::CStrivonApp app;
    if (!app.InitInstance(parsed.options)) {
        return 1;
    }
    return QApplication::exec();
}
