#include "dbx_json.h"

#include "dbx_text.h"

namespace datasnap {

namespace {

void write(std::string &out, const json::Value &v) {
    using K = json::Value::Kind;
    switch (v.kind) {
    case K::Null:
        out += "null";
        break;
    case K::False:
        out += "false";
        break;
    case K::True:
        out += "true";
        break;
    case K::Number:
        out += v.text;
        break;
    case K::String:
        appendRtlJsonString(out, v.text);
        break;
    case K::Array:
        out.push_back('[');
        for (std::size_t i = 0; i < v.items.size(); ++i) {
            if (i)
                out.push_back(',');
            write(out, v.items[i]);
        }
        out.push_back(']');
        break;
    case K::Object:
        out.push_back('{');
        for (std::size_t i = 0; i < v.members.size(); ++i) {
            if (i)
                out.push_back(',');
            appendRtlJsonString(out, v.members[i].first);
            out.push_back(':');
            write(out, v.members[i].second);
        }
        out.push_back('}');
        break;
    }
}

} // namespace

std::string rtlJsonText(const json::Value &v) {
    std::string out;
    write(out, v);
    return out;
}

json::Value parseJsonField(std::string_view bytes) {
    if (isValidUtf8(bytes))
        return json::parse(bytes);
    return json::parse(latin1ToUtf8(bytes));
}

} // namespace datasnap
