#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "uServerPrincipal.h"
#include "uServerPrincipalView.h"

class QAbstractButton;
class QAction;
class QGroupBox;
class QLabel;
class QLocalServer;
class QLockFile;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// The main window ("Corvane Datasnap Printer Server"): Qt widgets laid out as
// the original form, with the tray icon, its menu, Timer1 and the local socket
// "D10EDA" that brings the window back. Every event runs the matching handler
// of TFormPrincipal; a handler's failure goes to the event log.
class TFormPrincipalWindow : public QWidget, public IFormPrincipalView {
    Q_OBJECT
public:
    explicit TFormPrincipalWindow(TFormPrincipal &form, QWidget *parent = nullptr);
    ~TFormPrincipalWindow() override;

    // The name the activation socket listens on: "D10EDA" in the user's runtime
    // folder, or "D10EDA-<uid>" in the temporary folder when there is none.
    static QString ActivationServerName();

    // The widgets, for tests and screenshots.
    QWidget *Control(FormPrincipalControl control) const;
    QAbstractButton *BitBtnConfiguracao() const { return configuracao_; }
    QAbstractButton *BitBtnSair() const { return sair_; }
    QAction *MenuItem(const QString &objectName) const;
    QSystemTrayIcon *TrayIcon() const { return tray_; }
    QString BalloonHint() const { return balloonHint_; }
    bool ActivationHookListening() const;

    // Ends the program's event loop. A handler still waiting in a modal box
    // (the settings load's dialog) is abandoned, not re-run.
    void RequestQuit();

    // IFormPrincipalView
    void ShowMessage(const std::string &text) override;
    void SetPortLabel(const std::string &caption) override;
    void ShowSettingsDialog() override;
    void SetCaption(FormPrincipalControl control, const std::string &text) override;
    void SetFontColor(FormPrincipalControl control, TColor color) override;
    void SetVisible(FormPrincipalControl control, bool visible) override;
    void SetEnabled(FormPrincipalControl control, bool enabled) override;
    void SetBalloonHint(const std::string &text) override;
    void ShowBalloonHint() override;
    bool TrayAvailable() const override;
    bool AskYesNo(const std::string &text, const std::string &caption) override;
    void ShowWindow() override;
    void HideWindow() override;
    void SetWindowState(TWindowState state) override;
    void BringToFront() override;
    void CloseWindow() override;
    void RestoreApplication() override;
    void InstallActivationHook() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void BuildForm();
    void Run(void (TFormPrincipal::*handler)());
    void AnswerActivation();

    TFormPrincipal &form_;
    std::map<FormPrincipalControl, QWidget *> controls_;
    QAbstractButton *configuracao_ = nullptr;
    QAbstractButton *sair_ = nullptr;
    QSystemTrayIcon *tray_ = nullptr;
    QMenu *popupMenu_ = nullptr;
    QAction *abrir1_ = nullptr, *conectar1_ = nullptr, *desconectar1_ = nullptr, *sair1_ = nullptr;
    QTimer *timer1_ = nullptr;
    QLocalServer *activation_ = nullptr;
    std::unique_ptr<QLockFile> activationLock_;
    QString balloonHint_;
    bool settingState_ = false;
    bool quitting_ = false;
};
