#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "uServerPrincipal.h"

namespace window_test {

// The port the connect command handed to the transports, per call.
struct ArrumaPortaCalls {
    static std::vector<std::string> &ports();
};

// A server that starts unless told to fail or to stay stopped.
struct FakeServer {
    bool started = false;
    int starts = 0, stops = 0;
    const char *startFailure = nullptr; // raised by Start, server stays stopped
    bool refuseStart = false;           // Start returns but Started stays false

    TServerConfigServer Operations() {
        return {[this] { return started; }, [this] { ++stops, started = false; },
                [this] {
                    ++starts;
                    if (startFailure)
                        throw std::runtime_error(startFailure);
                    if (!refuseStart)
                        started = true;
                }};
    }
};

// A window that records what the form asks of it and, like the real one,
// fires FormShow when shown from hidden and FormClose when closed.
class RecordingView : public IFormPrincipalView {
public:
    explicit RecordingView(TFormPrincipal &form) : form_(form) {}

    void ShowMessage(const std::string &text) override { messages.push_back(text); }
    void SetPortLabel(const std::string &caption) override {
        captions[FormPrincipalControl::LabelNumeroPorta] = caption;
    }
    void ShowSettingsDialog() override {
        ++dialogs;
        if (onDialog)
            onDialog();
    }
    void SetCaption(FormPrincipalControl c, const std::string &text) override { captions[c] = text; }
    void SetFontColor(FormPrincipalControl c, TColor color) override { colors[c] = color; }
    void SetVisible(FormPrincipalControl c, bool v) override { visible[c] = v; }
    void SetEnabled(FormPrincipalControl c, bool e) override { enabled[c] = e; }
    void SetBalloonHint(const std::string &text) override { balloonHint = text; }
    void ShowBalloonHint() override { balloons.push_back(balloonHint); }
    bool TrayAvailable() const override { return trayAvailable; }
    bool AskYesNo(const std::string &text, const std::string &caption) override {
        questions.push_back(caption + ": " + text);
        return answerYes;
    }
    void ShowWindow() override {
        if (!windowShown) {
            windowShown = true;
            form_.FormShow();
        }
    }
    void HideWindow() override { windowShown = false; }
    void SetWindowState(TWindowState s) override { state = s; }
    void BringToFront() override { ++broughtToFront; }
    void CloseWindow() override {
        auto action = TFormPrincipal::TCloseAction::caFree;
        form_.FormClose(action);
        if (action != TFormPrincipal::TCloseAction::caNone)
            closed = true;
    }
    void RestoreApplication() override {
        ++restores;
        state = TWindowState::wsNormal;
    }
    void InstallActivationHook() override { ++hooks; }

    std::vector<std::string> messages, questions, balloons;
    std::map<FormPrincipalControl, std::string> captions;
    std::map<FormPrincipalControl, TColor> colors;
    std::map<FormPrincipalControl, bool> visible, enabled;
    std::string balloonHint;
    int dialogs = 0, hooks = 0, restores = 0, broughtToFront = 0;
    bool trayAvailable = true, answerYes = false, windowShown = false, closed = false;
    TWindowState state = TWindowState::wsNormal;
    std::function<void()> onDialog;

private:
    TFormPrincipal &form_;
};


} // namespace window_test
