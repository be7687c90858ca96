#pragma once

#include <string>

// What the main window object asks of its window. The desktop program
// implements it with Qt widgets, tests with a recording fake; the service runs
// without one (TFormPrincipal::View stays null and nothing is shown).
class IFormPrincipalView {
public:
    virtual ~IFormPrincipalView() = default;

    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string &text) = 0;

    // Caption of the port label (LabelNumeroPorta).
    virtual void SetPortLabel(const std::string &caption) = 0;

    // Shows the settings dialog modally; returns when it is closed.
    virtual void ShowSettingsDialog() = 0;
};
