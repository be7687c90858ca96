#include "json_value.h"

#include <boost/json/basic_parser_impl.hpp>

namespace json {

const Value *Value::find(std::string_view name) const {
    for (const auto &m : members)
        if (m.first == name)
            return &m.second;
    return nullptr;
}

namespace {

// Builds a Value tree from Boost.JSON's SAX events. A stack of open
// containers; keys wait beside the object they belong to.
struct TreeBuilder {
    constexpr static std::size_t max_object_size = std::size_t(-1);
    constexpr static std::size_t max_array_size = std::size_t(-1);
    constexpr static std::size_t max_key_size = std::size_t(-1);
    constexpr static std::size_t max_string_size = std::size_t(-1);

    std::vector<Value> stack;
    std::vector<std::string> keys;
    std::string part;
    Value result;

    void add(Value v) {
        if (stack.empty()) {
            result = std::move(v);
            return;
        }
        Value &top = stack.back();
        if (top.kind == Value::Kind::Object) {
            top.members.emplace_back(std::move(keys.back()), std::move(v));
            keys.pop_back();
        } else {
            top.items.push_back(std::move(v));
        }
    }
    bool on_document_begin(boost::json::error_code &) { return true; }
    bool on_document_end(boost::json::error_code &) { return true; }
    bool on_array_begin(boost::json::error_code &) {
        stack.push_back(Value::array());
        return true;
    }
    bool close() {
        Value v = std::move(stack.back());
        stack.pop_back();
        add(std::move(v));
        return true;
    }
    bool on_array_end(std::size_t, boost::json::error_code &) { return close(); }
    bool on_object_begin(boost::json::error_code &) {
        stack.push_back(Value::object());
        return true;
    }
    bool on_object_end(std::size_t, boost::json::error_code &) { return close(); }
    bool on_string_part(boost::json::string_view s, std::size_t, boost::json::error_code &) {
        part.append(s.data(), s.size());
        return true;
    }
    bool on_string(boost::json::string_view s, std::size_t, boost::json::error_code &) {
        part.append(s.data(), s.size());
        add(Value::string(std::move(part)));
        part.clear();
        return true;
    }
    bool on_key_part(boost::json::string_view s, std::size_t, boost::json::error_code &) {
        part.append(s.data(), s.size());
        return true;
    }
    bool on_key(boost::json::string_view s, std::size_t, boost::json::error_code &) {
        part.append(s.data(), s.size());
        keys.push_back(std::move(part));
        part.clear();
        return true;
    }
    bool on_number_part(boost::json::string_view s, boost::json::error_code &) {
        part.append(s.data(), s.size());
        return true;
    }
    bool number(boost::json::string_view s) {
        part.append(s.data(), s.size());
        add(Value::number(std::move(part)));
        part.clear();
        return true;
    }
    bool on_int64(int64_t, boost::json::string_view s, boost::json::error_code &) { return number(s); }
    bool on_uint64(uint64_t, boost::json::string_view s, boost::json::error_code &) { return number(s); }
    bool on_double(double, boost::json::string_view s, boost::json::error_code &) { return number(s); }
    bool on_bool(bool b, boost::json::error_code &) {
        add(Value::boolean(b));
        return true;
    }
    bool on_null(boost::json::error_code &) {
        add(Value::null());
        return true;
    }
    bool on_comment_part(boost::json::string_view, boost::json::error_code &) { return true; }
    bool on_comment(boost::json::string_view, boost::json::error_code &) { return true; }
};

} // namespace

Value parse(std::string_view text) {
    boost::json::parse_options opt;
    opt.max_depth = 64;
    boost::json::basic_parser<TreeBuilder> p(opt);
    boost::json::error_code ec;
    std::size_t n = p.write_some(false, text.data(), text.size(), ec);
    if (!ec && n != text.size())
        ec = boost::json::error::extra_data;
    if (ec)
        throw ParseError("Invalid JSON: " + ec.message() + " at offset " + std::to_string(n));
    return std::move(p.handler().result);
}

} // namespace json
