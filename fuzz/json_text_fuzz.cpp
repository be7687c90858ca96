// Parsing and writing back: the JSON text re-parses to the same value whenever
// no string holds a control character that is written unescaped; and the
// object path of updateprint_json answers a result text for any value.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "ServerMethodsUnit1.h"
#include "json_text.h"
#include "json_value.h"

namespace {

bool hasBareControl(const std::string &s) {
    for (unsigned char c : s)
        if (c < 0x20 && c != '\b' && c != '\t' && c != '\n' && c != '\f' && c != '\r')
            return true;
    return false;
}

bool writesBackExactly(const json::Value &v) {
    if (hasBareControl(v.text))
        return false;
    for (const auto &item : v.items)
        if (!writesBackExactly(item))
            return false;
    for (const auto &m : v.members)
        if (hasBareControl(m.first) || !writesBackExactly(m.second))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    json::Value v;
    try {
        v = json::parse(std::string_view(reinterpret_cast<const char *>(data), size));
    } catch (const json::ParseError &) {
        return 0;
    }
    std::string text = json::toJsonText(v);
    if (writesBackExactly(v)) {
        json::Value again = json::parse(text);
        if (!(again == v) || json::toJsonText(again) != text)
            std::abort();
    }

    static const auto settings = [] {
        auto s = std::make_shared<TSettings>();
        s->op_impr = "2"; // the page path: no device involved
        return std::shared_ptr<const TSettings>(s);
    }();
    TServerMethods1 methods([] { return settings; }, [](const std::string &, std::string &) { return true; });
    std::string answer = methods.updateprint_json("U", "S", &v);
    if (answer != "Realizada com sucesso." && answer.rfind("Erro: ", 0) != 0)
        std::abort();
    return 0;
}
