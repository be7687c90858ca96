#include "json_text.h"

#include <cstring>

namespace json {

namespace {

void appendString(const std::string &s, std::string &out) {
    out += '"';
    const char *p = s.data();
    const char *end = p + s.size();
    while (p < end) {
        const char *run = p;
        while (p < end && *p != '"' && *p != '\\' && *p != '/' && *p != '\b' && *p != '\t' && *p != '\n' &&
               *p != '\f' && *p != '\r')
            ++p;
        out.append(run, static_cast<std::size_t>(p - run));
        if (p == end)
            break;
        char esc;
        switch (*p) {
        case '\b':
            esc = 'b';
            break;
        case '\t':
            esc = 't';
            break;
        case '\n':
            esc = 'n';
            break;
        case '\f':
            esc = 'f';
            break;
        case '\r':
            esc = 'r';
            break;
        default:
            esc = *p;
            break;
        }
        out += '\\';
        out += esc;
        ++p;
    }
    out += '"';
}

} // namespace

void appendJsonText(const Value &value, std::string &out) {
    switch (value.kind) {
    case Value::Kind::Null:
        out += "null";
        break;
    case Value::Kind::False:
        out += "false";
        break;
    case Value::Kind::True:
        out += "true";
        break;
    case Value::Kind::Number:
        out += value.text;
        break;
    case Value::Kind::String:
        appendString(value.text, out);
        break;
    case Value::Kind::Array:
        out += '[';
        for (std::size_t i = 0; i < value.items.size(); ++i) {
            if (i)
                out += ',';
            appendJsonText(value.items[i], out);
        }
        out += ']';
        break;
    case Value::Kind::Object:
        out += '{';
        for (std::size_t i = 0; i < value.members.size(); ++i) {
            if (i)
                out += ',';
            appendString(value.members[i].first, out);
            out += ':';
            appendJsonText(value.members[i].second, out);
        }
        out += '}';
        break;
    }
}

std::string toJsonText(const Value &value) {
    std::string out;
    appendJsonText(value, out);
    return out;
}

} // namespace json
