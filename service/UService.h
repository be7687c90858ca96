#pragma once

#include <functional>
#include <string>

class TFormPrincipal;

// The service module: the service's registration settings and its start and
// stop handlers. systemd stands for the service control manager.
class TCorvaneDSPrinterService {
public:
    // Registration settings.
    static constexpr const char *Name = "CorvaneDSPrinterService";
    static constexpr const char *DisplayName = "CorvaneDSPrinterService";
    static constexpr bool OwnProcess = true;     // a service in its own process
    static constexpr bool StartAutomatically = true;
    static constexpr bool Interactive = false;
    static constexpr bool AllowStop = true;
    static constexpr bool AllowPause = true;
    static constexpr int WaitHint = 5000;        // ms
    static constexpr const char *ServiceStartName = ""; // the system's own account (root)

    // `startServer` starts DSServer1 of the server container.
    TCorvaneDSPrinterService(TFormPrincipal &form, std::function<void()> startServer);

    // Runs the four start steps in order, each guarded: a failing step's
    // message goes to its error file (teste<N>_err.txt in the error folder) and
    // the next step still runs. `Started` is left as it arrives. An error file
    // that cannot be written leaves the handler as os::ErrorFileFailure.
    void ServiceStart(bool &Started);

    // Grants every stop request.
    void ServiceStop(bool &Stopped);

private:
    void writeStepError(int step, const std::string &message);

    TFormPrincipal &form_;
    std::function<void()> startServer_;
};
