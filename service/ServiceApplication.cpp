#include "ServiceApplication.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include <pthread.h>

#include "ServerContainerUnit1.h"
#include "UService.h"
#include "code_page.h"
#include "error_file.h"
#include "event_log.h"
#include "executable_dir.h"
#include "service_manager.h"
#include "uServerPrincipal.h"

namespace {

struct Switches {
    bool install = false, uninstall = false, silent = false, foreground = false;
};

// A switch begins with "/" or "-"; its name is compared in any letter case.
Switches readSwitches(int argc, char **argv) {
    Switches s;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
            continue;
        std::string name = arg.substr(1);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
        if (name == "INSTALL")
            s.install = true;
        else if (name == "UNINSTALL")
            s.uninstall = true;
        else if (name == "SILENT")
            s.silent = true;
        else if (name == "FOREGROUND")
            s.foreground = true;
    }
    return s;
}

std::string executableName() { return std::filesystem::path(os::executablePath()).filename().string(); }

// Nothing a thread of the service throws may end the process unseen.
[[noreturn]] void logTerminate() {
    std::string message = "terminated";
    if (auto e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception &ex) {
            message = std::string("unhandled error: ") + ex.what();
        } catch (...) {
            message = "unhandled error of unknown type";
        }
    }
    os::logError(executableName(), message);
    std::abort();
}

int registerService(const Switches &sw) {
    const char *action = sw.install ? "install" : "uninstall";
    try {
        if (sw.install)
            os::installService({TCorvaneDSPrinterService::Name, TCorvaneDSPrinterService::DisplayName,
                                os::executablePath(), TCorvaneDSPrinterService::StartAutomatically});
        else
            os::uninstallService(TCorvaneDSPrinterService::Name);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "Service \"%s\" failed to %s with error: \"%s\"\n", TCorvaneDSPrinterService::Name,
                     action, e.what());
        return 1;
    }
    if (!sw.silent)
        std::printf("Service %sed successfully\n", action);
    return 0;
}

// Runs the service start, reports ready, and waits for a stop request.
int runService(TCorvaneDSPrinterService &service, TServerContainer1 &container, const sigset_t &stopSignals) {
    bool started = true;
    try {
        service.ServiceStart(started);
    } catch (const std::exception &e) {
        os::logError(TCorvaneDSPrinterService::Name, std::string("Service start failed: ") + e.what());
        return 1;
    }
    os::notifyReady();
    int sig = 0;
    sigwait(&stopSignals, &sig);
    bool stopped = true;
    service.ServiceStop(stopped);
    os::notifyStopping();
    container.DSServer1.Stop();
    return 0;
}

} // namespace

int RunServiceApplication(int argc, char **argv) {
    std::set_terminate(logTerminate);
    // Page margins are read in the machine's regional number format.
    std::setlocale(LC_NUMERIC, "");
    // Read the receipt code page now, not on the first print.
    os::CodePage::process();
    const Switches sw = readSwitches(argc, argv);

    // Stop requests are taken by sigwait on the main thread; every thread made
    // from here on inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (sw.foreground)
        os::setLogToStderr(true);

    // The three objects of the process. The main window object is built first
    // because the container's remote methods read its Settings record and print
    // pages through it; its creation handler runs after the container exists.
    // They are destroyed in reverse: the container (stopping the server) before
    // the main window object.
    TFormPrincipal FormPrincipal;
    TServerContainer1 ServerContainer1([&FormPrincipal] { return FormPrincipal.Settings(); },
                                       [&FormPrincipal](const std::string &value, std::string &erro) {
                                           return FormPrincipal.imprime(value, erro);
                                       });
    FormPrincipal.ServerContainer1 = &ServerContainer1;
    TCorvaneDSPrinterService CorvaneDSPrinterService(FormPrincipal, [&] { ServerContainer1.DSServer1.Start(); });

    // Creation handler of the main window: never holds up start-up; its
    // failure is logged (nobody could answer a message box in a service).
    try {
        FormPrincipal.FormCreate();
    } catch (const std::exception &e) {
        os::logError(executableName(), std::string("Database location (SYS_INFO.INI) not read: ") + e.what());
    }

    if (sw.install || sw.uninstall)
        return registerService(sw);
    if (sw.foreground || os::startedByServiceManager())
        return runService(CorvaneDSPrinterService, ServerContainer1, stopSignals);

    os::setLogToStderr(true);
    os::logError(executableName(),
                 "The service process could not connect to the service controller. "
                 "It runs under systemd: register it with \"" +
                     executableName() + " /INSTALL\", or run it in a terminal with \"" + executableName() +
                     " /FOREGROUND\".");
    return 1;
}
