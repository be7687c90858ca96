#include <gtest/gtest.h>

#include <string>

#include "json_text.h"
#include "json_value.h"

using json::Value;

TEST(JsonText, CompactWithOnlyTheListedEscapes) {
    static const struct {
        std::string input; // parsed, then written back
        std::string text;
    } cases[] = {
        {R"( { "texto" : "YWJj" } )", R"({"texto":"YWJj"})"},
        {R"({"b":1.50,"a":[true, false ,null],"b":-0e3})", R"({"b":1.50,"a":[true,false,null],"b":-0e3})"},
        {R"({"s":"a/b\\c\"d"})", R"({"s":"a\/b\\c\"d"})"},
        {R"({"s":"\b\t\n\f\r"})", R"({"s":"\b\t\n\f\r"})"},
        {R"({"s":"\u0001\u001f\u007f"})", "{\"s\":\"\x01\x1f\x7f\"}"}, // no escapes by number
        {R"({"s":"\u00e9\u20ac\ud83d\ude00"})", "{\"s\":\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"}"},
        {R"({"s":"\u0000"})", std::string("{\"s\":\"\0\"}", 9)},
        {R"({"na/me":{"x":[]},"":""})", R"({"na\/me":{"x":[]},"":""})"},
        {R"({})", "{}"},
        {R"([1,"x",{}])", R"([1,"x",{}])"},
        {R"("alone")", R"("alone")"},
        {"null", "null"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(json::toJsonText(json::parse(c.input)), c.text);
    }
}

TEST(JsonText, BuiltValuesKeepOrderAndDuplicates) {
    Value v = Value::object({{"z", Value::string("1")}, {"a", Value::number("2")}, {"z", Value::null()}});
    EXPECT_EQ(json::toJsonText(v), R"({"z":"1","a":2,"z":null})");
}
