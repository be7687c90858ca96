#include <exception>
#include <filesystem>
#include <stdexcept>

#include "ServerContainerUnit1.h"
#include "event_log.h"
#include "executable_dir.h"
#include "uServerPrincipal.h"

namespace {

// Failures of the window's handlers go to the event log under the program's
// file name, like any unhandled failure of the application's message loop.
void logToEventLog(const std::string &message) {
    std::string source = "CorvaneDSPrinter";
    try {
        source = std::filesystem::path(os::executablePath()).filename().string();
    } catch (const std::exception &) {
    }
    os::logError(source, message);
}

} // namespace

bool TFormPrincipal::HandleEvent(const std::function<void()> &handler) {
    try {
        handler();
        return true;
    } catch (const std::exception &e) {
        (LogError ? LogError : logToEventLog)(e.what());
    } catch (...) {
        (LogError ? LogError : logToEventLog)("unknown error");
    }
    return false;
}

void TFormPrincipal::RefreshView() {
    if (!View)
        return;
    using C = FormPrincipalControl;
    const TComponents &c = components_;
    View->SetCaption(C::LabelNumeroIP, c.LabelNumeroIP);
    View->SetPortLabel(c.LabelNumeroPorta);
    View->SetCaption(C::LabelConectar, c.LabelConectar);
    View->SetFontColor(C::LabelConectar, c.LabelConectarColor);
    View->SetVisible(C::BitBtnConectar, c.BitBtnConectarVisible);
    View->SetVisible(C::BitBtnDesconectar, c.BitBtnDesconectarVisible);
    View->SetEnabled(C::Conectar1, c.Conectar1Enabled);
    View->SetEnabled(C::Desconectar1, c.Desconectar1Enabled);
    View->SetVisible(C::TrayIcon1, c.TrayIcon1Visible);
    View->SetEnabled(C::Timer1, c.Timer1Enabled);
    View->SetBalloonHint(c.BalloonHint);
}

void TFormPrincipal::SetPortLabel(const std::string &caption) {
    components_.LabelNumeroPorta = caption;
    if (View)
        View->SetPortLabel(caption);
}

std::string TFormPrincipal::FullBalloonText() const {
    return "Status: " + components_.LabelConectar + " | IP: " + components_.LabelNumeroIP + ":" +
           components_.LabelNumeroPorta;
}

std::string TFormPrincipal::ShortBalloonText() const { return "Status: " + components_.LabelConectar; }

TServerConfigServer TFormPrincipal::DSServer1() {
    if (ServerStandIn.Started)
        return ServerStandIn;
    TServerContainer1 *container = ServerContainer1;
    return {[container] { return container && container->DSServer1.Started(); },
            [container] {
                if (container)
                    container->DSServer1.Stop();
            },
            [container] {
                if (!container)
                    throw std::logic_error("the main window has no server container");
                container->DSServer1.Start();
            }};
}

bool TFormPrincipal::ServerStarted() { return DSServer1().Started(); }

void TFormPrincipal::SetLabelConectar(const std::string &caption, TColor color) {
    components_.LabelConectar = caption;
    components_.LabelConectarColor = color;
    if (View) {
        View->SetCaption(FormPrincipalControl::LabelConectar, caption);
        View->SetFontColor(FormPrincipalControl::LabelConectar, color);
    }
}

void TFormPrincipal::SetControlVisible(FormPrincipalControl control, bool &field, bool visible) {
    field = visible;
    if (View)
        View->SetVisible(control, visible);
}

void TFormPrincipal::SetControlEnabled(FormPrincipalControl control, bool &field, bool enabled) {
    field = enabled;
    if (View)
        View->SetEnabled(control, enabled);
}

void TFormPrincipal::SetBalloon(const std::string &text) {
    components_.BalloonHint = text;
    if (View)
        View->SetBalloonHint(text);
}
