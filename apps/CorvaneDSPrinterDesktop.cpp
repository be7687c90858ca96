// The desktop start: the main window with its tray icon, running the print
// server in this process. "/a" connects at start and goes to the tray.

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <exception>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "ServerContainerUnit1.h"
#include "event_log.h"
#include "uServerPrincipal.h"
#include "uServerPrincipalWindow.h"

namespace {

int signalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("CorvaneDSPrinter"));
    // The main window's own closing ends the program; hiding it in the tray does not.
    QApplication::setQuitOnLastWindowClosed(false);
    std::signal(SIGPIPE, SIG_IGN);
    // Failures go to the event log; from a terminal they are shown there too.
    if (::isatty(STDERR_FILENO))
        os::setLogToStderr(true);

    // A stop request from the session (SIGTERM, Ctrl+C) ends the program the
    // normal way: the event loop returns and the server is stopped on the way out.
    TFormPrincipal FormPrincipal;
    TServerContainer1 ServerContainer1([&FormPrincipal] { return FormPrincipal.Settings(); },
                                       [&FormPrincipal](const std::string &value, std::string &erro) {
                                           return FormPrincipal.imprime(value, erro);
                                       });
    FormPrincipal.ServerContainer1 = &ServerContainer1;
    const QStringList arguments = QCoreApplication::arguments(); // without Qt's own options
    for (qsizetype i = 1; i < arguments.size(); ++i)
        FormPrincipal.Parameters.push_back(arguments[i].toStdString());

    TFormPrincipalWindow window(FormPrincipal);

    // A stop request from the session (SIGTERM, Ctrl+C) ends the program the
    // normal way: the event loop returns and the server is stopped on the way out.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] { window.RequestQuit(); });
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }

    // A failure of the creation handler (a missing SYS_INFO.INI, say) is shown
    // and the start goes on: printing does not depend on the database location.
    try {
        FormPrincipal.FormCreate();
    } catch (const std::exception &e) {
        QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), QString::fromStdString(e.what()));
    }

    // Shown from the event loop, so that whatever the first showing opens (the
    // settings dialog when there is no servidor.cfg) runs inside it.
    QTimer::singleShot(0, &window, [&window] { window.show(); });
    return app.exec();
}
