#include <gtest/gtest.h>

#include "json_value.h"

using json::Value;

TEST(JsonParse, KeepsMemberOrderDuplicatesAndNumberText) {
    Value v = json::parse(R"({"b":1.50,"a":[true,null,"x\u00e9\/"],"b":-0e3})");
    ASSERT_TRUE(v.isObject());
    ASSERT_EQ(v.members.size(), 3u);
    EXPECT_EQ(v.members[0].first, "b");
    EXPECT_EQ(v.members[0].second, Value::number("1.50"));
    EXPECT_EQ(v.members[1].second, Value::array({Value::boolean(true), Value::null(), Value::string("x\xC3\xA9/")}));
    EXPECT_EQ(v.members[2].second, Value::number("-0e3"));
    EXPECT_EQ(v.find("b"), &v.members[0].second);
    EXPECT_EQ(v.find("c"), nullptr);
}

TEST(JsonParse, RejectsMalformedInputWithAMessage) {
    for (const char *bad : {"", "{", "{\"a\":}", "[1,]", "{} x", "\"\xff\"", "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["
                                                                              "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(json::parse(bad), json::ParseError);
    }
}

TEST(JsonParse, LongStringsSplitAcrossParserBuffers) {
    std::string big(100000, 'q');
    Value v = json::parse("{\"Value\":\"" + big + "\"}");
    EXPECT_EQ(v.find("Value")->text, big);
}
