#pragma once

#include <string>

// The main window's components that its handlers change, named as in the form.
enum class FormPrincipalControl {
    LabelNumeroIP,
    LabelNumeroPorta,
    LabelConectar,
    BitBtnConectar,
    BitBtnDesconectar,
    Conectar1,
    Desconectar1,
    TrayIcon1,
    Timer1,
};

// A colour as 0xRRGGBB, or clWindowText for the system's window text colour.
using TColor = int;
inline constexpr TColor clWindowText = -1;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clRed = 0xFF0000;

enum class TWindowState { wsNormal, wsMinimized };

// What the main window object asks of its window. The desktop program
// implements it with Qt widgets, tests with a recording fake; the service runs
// without one (TFormPrincipal::View stays null and nothing is shown).
// The members after the first three do nothing by default, so a view that only
// serves the settings load needs none of them.
class IFormPrincipalView {
public:
    virtual ~IFormPrincipalView() = default;

    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string &text) = 0;

    // Caption of the port label (LabelNumeroPorta).
    virtual void SetPortLabel(const std::string &caption) = 0;

    // Shows the settings dialog modally; returns when it is closed.
    virtual void ShowSettingsDialog() = 0;

    // ---- components ----
    // Caption of a label.
    virtual void SetCaption(FormPrincipalControl, const std::string &) {}
    // Font colour of a label.
    virtual void SetFontColor(FormPrincipalControl, TColor) {}
    // Buttons and the tray icon.
    virtual void SetVisible(FormPrincipalControl, bool) {}
    // Menu items; Timer1 runs while enabled (its interval is 500 ms).
    virtual void SetEnabled(FormPrincipalControl, bool) {}

    // ---- tray icon ----
    virtual void SetBalloonHint(const std::string &) {}
    virtual void ShowBalloonHint() {}
    // Whether the desktop has a notification area to put the icon in.
    virtual bool TrayAvailable() const { return true; }

    // A question box with Yes and No buttons and the question icon; true on Yes.
    virtual bool AskYesNo(const std::string &, const std::string &) { return false; }

    // ---- the window ----
    // Show fires the form's FormShow when the window was hidden; Close fires
    // FormClose and, when that lets the closing go on, ends the program.
    virtual void ShowWindow() {}
    virtual void HideWindow() {}
    virtual void SetWindowState(TWindowState) {}
    virtual void BringToFront() {}
    virtual void CloseWindow() {}
    // The restore command for the application's window (un-minimise and show it).
    virtual void RestoreApplication() {}
    // Starts answering the activation message "D10EDA" from other processes
    // (each one runs the form's ActivationWindowProc).
    virtual void InstallActivationHook() {}
};
