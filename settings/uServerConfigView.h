#pragma once

#include <map>
#include <string>
#include <vector>

// The settings dialog's controls, named as in its form.
enum class ServerConfigControl {
    LabelNumeroIP,
    EditPorta,
    EditUsuario,
    EditSenha,
    CheckBoxMinimizar,
    RadioButton1,
    RadioButton2,
    Label3,
    ComboBox1,
    Panel2,
    Panel3,
    SpinEdit1,
    CheckBox1,
    SpinEdit2,
    SpinEdit3,
    CheckCondensa,
    CheckCortar,
    Tipo_impressora,
};

// Range and maximum text length of a whole-number spin box.
struct SpinEditRange {
    int MinValue;
    int MaxValue;
    int MaxLength;
};
SpinEditRange SpinRange(ServerConfigControl spinEdit);

// The port box takes at most this many characters.
constexpr int kEditPortaMaxLength = 5;

// The items of the printer model box: the known models and a last item of one space.
const std::vector<std::string> &TipoImpressoraItems();

// What the settings dialog's logic (TFormServerConfig) asks of its window. The
// desktop program implements it with Qt widgets; the command-line tool and the
// tests use TServerConfigMemoryView. Texts are UTF-8.
class IServerConfigView {
public:
    virtual ~IServerConfigView() = default;

    // Text of an edit or combo box; caption of a label.
    virtual std::string Text(ServerConfigControl control) const = 0;
    virtual void SetText(ServerConfigControl control, const std::string &text) = 0;
    // Check boxes and radio buttons; choosing one radio button clears the other.
    virtual bool Checked(ServerConfigControl control) const = 0;
    virtual void SetChecked(ServerConfigControl control, bool checked) = 0;
    // Spin boxes; the logic only puts values within the box's range.
    virtual int Value(ServerConfigControl control) const = 0;
    virtual void SetValue(ServerConfigControl control, int value) = 0;
    // Panels.
    virtual void SetVisible(ServerConfigControl control, bool visible) = 0;
    virtual void SetTop(ServerConfigControl control, int top) = 0;
    // Appends an item to a combo box's list without changing its text.
    virtual void AddItem(ServerConfigControl control, const std::string &item) = 0;
    // Ends the modal dialog.
    virtual void Close() = 0;
    // The application's error box with the given text, an error icon and OK.
    virtual void ShowError(const std::string &text) = 0;
};

// A window-less view holding every control's state, starting from the dialog's
// initial contents. Serves the command-line settings tool and tests.
class TServerConfigMemoryView : public IServerConfigView {
public:
    TServerConfigMemoryView();

    std::string Text(ServerConfigControl control) const override;
    void SetText(ServerConfigControl control, const std::string &text) override;
    bool Checked(ServerConfigControl control) const override;
    void SetChecked(ServerConfigControl control, bool checked) override;
    int Value(ServerConfigControl control) const override;
    void SetValue(ServerConfigControl control, int value) override;
    void SetVisible(ServerConfigControl control, bool visible) override;
    void SetTop(ServerConfigControl control, int top) override;
    void AddItem(ServerConfigControl control, const std::string &item) override;
    void Close() override { closed = true; }
    void ShowError(const std::string &text) override { errors.push_back(text); }

    bool Visible(ServerConfigControl control) const;
    int Top(ServerConfigControl control) const;
    std::vector<std::string> Items(ServerConfigControl control) const;

    bool closed = false;
    std::vector<std::string> errors; // texts of the error boxes shown

private:
    std::map<ServerConfigControl, std::string> texts_;
    std::map<ServerConfigControl, bool> checked_;
    std::map<ServerConfigControl, int> values_;
    std::map<ServerConfigControl, bool> visible_;
    std::map<ServerConfigControl, int> top_;
    std::map<ServerConfigControl, std::vector<std::string>> items_;
};
