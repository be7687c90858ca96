#include <gtest/gtest.h>

#include "dbx_errors.h"
#include "dbx_json.h"
#include "dbx_reader.h"
#include "dbx_row.h"
#include "dbx_text.h"

using namespace datasnap;

namespace {

std::string hex(std::string_view bytes) {
    static constexpr char d[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out.push_back(' ');
        out.push_back(d[c >> 4]);
        out.push_back(d[c & 15]);
    }
    return out;
}

std::string stringField(std::string_view utf8) {
    std::string row;
    appendStringField(row, encodeRowString(utf8));
    return row;
}

} // namespace

TEST(DbxRow, StringFieldsAsTheStockServerEncodesThem) {
    struct Case {
        const char *text;
        const char *bytes;
    };
    static constexpr Case cases[] = {
        {"abc", "23 61 62 63"},
        {"Hello", "25 48 65 6C 6C 6F"},
        {"caf\u00E9 a\u00E7\u00E3o \u00FC\u00DF\u00B5", "2D 63 61 66 E9 20 61 E7 E3 6F 20 FC DF B5"},
        {"y\u00FFz", "26 79 FF 00 FF 00 7A"},
        {"ab\u20ACc\U0001F600d", "2D 61 62 FF 20 AC 00 63 D8 3D DE 00 00 64"},
        {"", "20"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(hex(stringField(c.text)), c.bytes) << c.text;
        auto fields = parseRow(stringField(c.text));
        ASSERT_EQ(fields.size(), 1u);
        EXPECT_EQ(decodeRowString(fields[0].bytes), c.text);
    }
    std::string s33(33, 'x');
    EXPECT_EQ(hex(stringField(s33).substr(0, 3)), "10 00 21");
    std::string s31(31, 'x');
    EXPECT_EQ(hex(stringField(s31).substr(0, 1)), "3F");
}

TEST(DbxRow, ParsesMixedRowsAndRefusesBrokenOnes) {
    std::string row = "\x25Hello\xC0";
    row += std::string("\x50\x00\x03", 3) + "abc";
    appendJsonField(row, R"({"a":1})");
    auto f = parseRow(row);
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[0].bytes, "Hello");
    EXPECT_EQ(f[1].kind, DbxRowField::Kind::Null);
    EXPECT_TRUE(f[2].truncated);
    EXPECT_EQ(f[2].bytes, "abc");
    EXPECT_EQ(f[3].kind, DbxRowField::Kind::Json);
    EXPECT_EQ(hex(row.substr(row.size() - 12)), "40 00 00 00 07 7B 22 61 22 3A 31 7D");

    for (std::string bad : {std::string("\x25Hell"), std::string("\x10\x00"), std::string("\x40\x00\x00\x00\x09{}"),
                            std::string("\x01")})
        EXPECT_THROW(parseRow(bad), ProtocolError) << hex(bad);
    // Lone surrogates arrive as U+FFFD.
    EXPECT_EQ(decodeRowString(std::string("\xFF\xD8\x3D\x00\x41", 5)), "\xEF\xBF\xBD" "A");
}

TEST(DbxRow, TruncatesLongStringsAtTheInlineLimit) {
    std::string row;
    std::string big(40003, 'z');
    EXPECT_EQ(appendStringField(row, big, 30717), 30717u);
    EXPECT_EQ(hex(row.substr(0, 3)), "50 77 FD");
    EXPECT_EQ(row.size(), 3u + 30717u);
}

TEST(DbxText, StreamStringsAreLatin1WithEscapes) {
    std::string out;
    appendDbxString(out, "a\"\\/\b\f\n\r\t\x01\u00E9\u20AC\U0001F600");
    EXPECT_EQ(out, "\"a\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\xE9\\u20AC\\uD83D\\uDE00\"");
    std::string rtl;
    appendRtlJsonString(rtl, "a/\u00E9");
    EXPECT_EQ(rtl, "\"a\\/\\u00E9\"");
}

TEST(DbxReader, ReadsMessagesAcrossAndWithinFrames) {
    std::string stream = "{\"method\":\"execute\",\"params\":[{\"handle\":[3]},{\"data\":[7,";
    stream += std::string("\x25Hello\xC0", 7) + "]}]}";
    // A last blob chunk, its count padded, its raw bytes holding a NUL and a brace.
    stream += "  {\"data\":[-5       ," + std::string("\x00\x01}\x02]", 5) + "]}";
    DbxStreamReader r;
    std::vector<DbxNode> got;
    for (char c : stream) {  // one byte at a time
        r.append(std::string_view(&c, 1));
        while (auto m = r.next())
            got.push_back(*m);
    }
    ASSERT_EQ(got.size(), 2u);
    const DbxNode *params = got[0].find("params");
    ASSERT_TRUE(params);
    EXPECT_EQ(params->items[0].find("handle")->items[0].integer(), 3);
    EXPECT_EQ(params->items[1].kind, DbxNode::Kind::Data);
    EXPECT_EQ(params->items[1].text, std::string("\x25Hello\xC0", 7));
    EXPECT_EQ(got[1].kind, DbxNode::Kind::Data);
    EXPECT_EQ(got[1].count, -5);
    EXPECT_EQ(got[1].text.size(), 5u);
}

TEST(DbxReader, DecodesLatin1AndEscapes) {
    DbxNode n = parseDbxMessage("{\"k\":\"caf\xE9 \\u20AC \\uD83D\\uDE00 \\n\"}");
    EXPECT_EQ(n.find("k")->text, "caf\u00E9 \u20AC \U0001F600 \n");
}

TEST(DbxReader, ClientSideStopsAfterTheErrorObject) {
    DbxStreamReader r;
    r.clientSide();
    r.append("{\"error\":{\"name\":\"TDBXError\",\"code\":29,\"message\":\"Remote error: x\"}{\"result\":[1]}");
    auto e = r.next();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->find("error")->find("code")->integer(), 29);
    auto next = r.next();
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->find("result"));
}

TEST(DbxReader, RefusesMalformedAndOversizedInput) {
    for (std::string bad : {"[1]", "{\"a\":tru}", "{\"a\" 1}", "x", "{\"data\":[abc,]}"}) {
        DbxStreamReader r;
        r.append(bad);
        EXPECT_THROW(
            {
                while (r.next()) {
                }
            },
            ProtocolError)
            << bad;
    }
    DbxStreamReader small(DbxReaderLimits{1000, 32});
    small.append("{\"data\":[5000,");
    EXPECT_THROW(small.next(), ProtocolError);
    DbxStreamReader longString(DbxReaderLimits{1000, 32});
    longString.append("{\"a\":\"" + std::string(2000, 'x'));
    EXPECT_THROW(longString.next(), ProtocolError);
    DbxStreamReader deep(DbxReaderLimits{1000, 32});
    deep.append(std::string(100, '['));
    EXPECT_THROW(deep.next(), ProtocolError);
}

TEST(DbxJson, WritesAsThePlatformSerialiser) {
    json::Value v = json::parse(R"({"texto":"a/b\u00e9","n":[1,2.50,null,true]})");
    EXPECT_EQ(rtlJsonText(v), R"({"texto":"a\/b\u00E9","n":[1,2.50,null,true]})");
    EXPECT_EQ(parseJsonField("{\"a\":\"\xE9\"}").find("a")->text, "\u00E9");  // Latin-1 text accepted
}

TEST(DbxReader, BoundsTheStructureOfAnUnfinishedMessage) {
    // Data blocks may be large; the text around them may not.
    DbxStreamReader r(DbxReaderLimits{1u << 20, 32, 4096});
    r.append("{\"data\":[100000," + std::string(99000, 'd'));
    EXPECT_FALSE(r.next());
    DbxStreamReader s(DbxReaderLimits{1u << 20, 32, 4096});
    std::string many = "{\"a\":[";
    for (int i = 0; i < 3000; ++i)
        many += "1,";
    s.append(many);
    EXPECT_THROW(s.next(), ProtocolError);
}
