#pragma once

#include <stdexcept>
#include <string>

namespace os {

// What is registered with the system's service manager (systemd here).
struct ServiceDefinition {
    std::string name;        // unit name, without ".service"
    std::string displayName; // Description=
    std::string executable;  // the program's full path
    bool startAutomatically = true;
};

struct ServiceManagerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The unit file text: a notify-type service in its own process, run as root,
// restarted when it fails, hardened (read-only system, private /tmp, its
// state folder named after the unit, its own folder writable), wanted by
// multi-user.target when it starts automatically. Paths are quoted when they
// hold a space.
std::string renderSystemdUnit(const ServiceDefinition &service);

// systemd is PID 1 (its runtime folder exists). CORVANE_SYSTEMD_RUNTIME_DIR
// names another folder to look for (tests).
bool systemdRunning();

// Where unit files are written: CORVANE_SYSTEMD_UNIT_DIR or /etc/systemd/system.
std::string systemdUnitFolder();

// Writes the unit, reloads systemd and enables the unit. When systemd is not
// running, or a step fails, nothing stays changed and ServiceManagerError says why.
void installService(const ServiceDefinition &service);

// Disables the unit, removes its file and reloads systemd.
void uninstallService(const std::string &name);

// The process was started by systemd (its notify socket or invocation id is set).
bool startedByServiceManager();

// Tells systemd that start-up is over / that the service is stopping.
void notifyReady();
void notifyStopping();

} // namespace os
