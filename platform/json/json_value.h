#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace json {

// A JSON value as a DataSnap peer holds it: object members keep their order
// and duplicate names, and a number keeps the text it was written with.
// Strings are UTF-8.
struct Value {
    enum class Kind { Null, False, True, Number, String, Array, Object };
    using Member = std::pair<std::string, Value>;

    Kind kind = Kind::Null;
    std::string text;             // Number: its text; String: its value
    std::vector<Value> items;     // Array
    std::vector<Member> members;  // Object, in order, duplicates kept

    static Value null() { return {}; }
    static Value boolean(bool b) { return make(b ? Kind::True : Kind::False); }
    static Value number(std::string t) { return make(Kind::Number, std::move(t)); }
    static Value string(std::string s) { return make(Kind::String, std::move(s)); }
    static Value array(std::vector<Value> v = {}) {
        Value r = make(Kind::Array);
        r.items = std::move(v);
        return r;
    }
    static Value object(std::vector<Member> m = {}) {
        Value r = make(Kind::Object);
        r.members = std::move(m);
        return r;
    }

    bool isNull() const { return kind == Kind::Null; }
    bool isString() const { return kind == Kind::String; }
    bool isObject() const { return kind == Kind::Object; }
    bool isArray() const { return kind == Kind::Array; }

    // The value of the first member with this name, or nullptr.
    const Value *find(std::string_view name) const;

    bool operator==(const Value &) const = default;

private:
    static Value make(Kind k, std::string t = {}) {
        Value r;
        r.kind = k;
        r.text = std::move(t);
        return r;
    }
};

struct ParseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parses one JSON text (RFC 8259, nesting bounded). Throws ParseError with a
// readable message on malformed input or invalid UTF-8.
Value parse(std::string_view text);

} // namespace json
