#pragma once

#include <QDialog>

#include <functional>
#include <map>
#include <memory>

#include "uServerConfig.h"
#include "uServerConfigView.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QWidget;

// The settings dialog's window ("Configurações do Servidor"): Qt widgets laid
// out as the original form, driven by TFormServerConfig.
class TServerConfigDialog : public QDialog, public IServerConfigView {
    Q_OBJECT
public:
    TServerConfigDialog(TServerConfigServer server, TFormServerConfig::PrinterList printers, QWidget *parent = nullptr,
                        TFormServerConfig::AddressSource localAddress = TFormServerConfig::FirstLocalIPv4);
    ~TServerConfigDialog() override;

    // Fills the dialog (FormShow) and runs it modally. When it cannot be filled,
    // the error box tells why and the dialog is not shown (QDialog::Rejected).
    int ShowModal();

    // Fills the dialog without running it (FormShow); raises what FormShow raises.
    void FormShow();

    // How error boxes are shown; tests replace it to record the texts.
    std::function<void(const QString &)> errorBox;

    // The widget of a control, for tests and screenshots.
    QWidget *Control(ServerConfigControl control) const;
    QWidget *BitBtnAplicar() const;
    QWidget *BitBtnCancelar() const;

    // IServerConfigView
    std::string Text(ServerConfigControl control) const override;
    void SetText(ServerConfigControl control, const std::string &text) override;
    bool Checked(ServerConfigControl control) const override;
    void SetChecked(ServerConfigControl control, bool checked) override;
    int Value(ServerConfigControl control) const override;
    void SetValue(ServerConfigControl control, int value) override;
    void SetVisible(ServerConfigControl control, bool visible) override;
    void SetTop(ServerConfigControl control, int top) override;
    void AddItem(ServerConfigControl control, const std::string &item) override;
    void Close() override;
    void ShowError(const std::string &text) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void BuildForm();

    std::map<ServerConfigControl, QWidget *> controls_;
    QWidget *aplicar_ = nullptr;
    QWidget *cancelar_ = nullptr;
    std::unique_ptr<TFormServerConfig> form_;
};
