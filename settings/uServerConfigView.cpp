#include "uServerConfigView.h"

#include <stdexcept>

using C = ServerConfigControl;

SpinEditRange SpinRange(ServerConfigControl spinEdit) {
    switch (spinEdit) {
    case C::SpinEdit1:
        return {3, 20, 2};
    case C::SpinEdit2:
    case C::SpinEdit3:
        return {0, 999, 3};
    default:
        throw std::invalid_argument("not a spin box");
    }
}

const std::vector<std::string> &TipoImpressoraItems() {
    static const std::vector<std::string> items{"BEMATECH", "CONTROL_ID", "DARUMA", "DIEBOLD", "EPSON", "FEASSO", " "};
    return items;
}

TServerConfigMemoryView::TServerConfigMemoryView() {
    texts_[C::LabelNumeroIP] = "254.254.254.254";
    texts_[C::EditPorta] = "211";
    texts_[C::Label3] = "Impressora:";
    checked_[C::RadioButton1] = true;
    values_[C::SpinEdit1] = 11;
    values_[C::SpinEdit2] = 10;
    values_[C::SpinEdit3] = 10;
    visible_[C::Panel2] = false;
    visible_[C::Panel3] = true;
    items_[C::Tipo_impressora] = TipoImpressoraItems();
}

std::string TServerConfigMemoryView::Text(ServerConfigControl control) const {
    auto it = texts_.find(control);
    return it == texts_.end() ? std::string() : it->second;
}

void TServerConfigMemoryView::SetText(ServerConfigControl control, const std::string &text) {
    texts_[control] = text;
}

bool TServerConfigMemoryView::Checked(ServerConfigControl control) const {
    auto it = checked_.find(control);
    return it != checked_.end() && it->second;
}

void TServerConfigMemoryView::SetChecked(ServerConfigControl control, bool checked) {
    checked_[control] = checked;
    if (checked && control == C::RadioButton1)
        checked_[C::RadioButton2] = false;
    if (checked && control == C::RadioButton2)
        checked_[C::RadioButton1] = false;
}

int TServerConfigMemoryView::Value(ServerConfigControl control) const {
    auto it = values_.find(control);
    return it == values_.end() ? 0 : it->second;
}

void TServerConfigMemoryView::SetValue(ServerConfigControl control, int value) {
    values_[control] = value;
}

void TServerConfigMemoryView::SetVisible(ServerConfigControl control, bool visible) {
    visible_[control] = visible;
}

void TServerConfigMemoryView::SetTop(ServerConfigControl control, int top) {
    top_[control] = top;
}

void TServerConfigMemoryView::AddItem(ServerConfigControl control, const std::string &item) {
    items_[control].push_back(item);
}

bool TServerConfigMemoryView::Visible(ServerConfigControl control) const {
    auto it = visible_.find(control);
    return it == visible_.end() || it->second;
}

int TServerConfigMemoryView::Top(ServerConfigControl control) const {
    auto it = top_.find(control);
    return it == top_.end() ? 0 : it->second;
}

std::vector<std::string> TServerConfigMemoryView::Items(ServerConfigControl control) const {
    auto it = items_.find(control);
    return it == items_.end() ? std::vector<std::string>() : it->second;
}
