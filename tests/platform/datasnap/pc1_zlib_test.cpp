#include <gtest/gtest.h>

#include <zlib.h>

#include "dbx_errors.h"
#include "pc1_cipher.h"
#include "zlib_filter.h"

using namespace datasnap;

namespace {

std::string hex(std::string_view bytes) {
    static constexpr char d[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(d[c >> 4]);
        out.push_back(d[c & 15]);
    }
    return out;
}

std::string unhex(std::string_view h) {
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
    return out;
}

constexpr const char *kKey = "mKpRuTqWbNcZxJvL";

} // namespace

TEST(Pc1Cipher, MatchesKnownVectors) {
    struct Case {
        const char *key;
        std::string plain;
        const char *cipher;
    };
    const Case cases[] = {
        // The cipher author's published vector.
        {"Remsaalps!123456", "Hello  World !\r\n", "B1917F2FDCC0579FD88B29AC412191BE"},
        {kKey, std::string(16, '\0'), "ED3B4B6E8D61B2D357BD65C29B93FE15"},
        {kKey, R"({"method":"connect","params":[{}]})",
         "96C455D8C561BCA86855AFFB8ECDDF23A64D87C3561BA8EB688C16A5D8BBC9ABD658"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(hex(pc1Encrypt(c.key, c.plain)), c.cipher) << c.key;
        EXPECT_EQ(pc1Decrypt(c.key, unhex(c.cipher)), c.plain) << c.key;
    }
}

TEST(Pc1Cipher, CodeOfTheDeploymentKey) {
    std::string code = pc1Code(kKey);
    ASSERT_EQ(code.size(), 512u);
    EXPECT_EQ(code.substr(0, 32), "ED3ABDB0B5BBE551A98D64DBB4A8DF03");
    EXPECT_EQ(code.substr(512 - 20), "4A92ABEF40196EB7D9C0");
    EXPECT_TRUE(pc1CodeMatches(kKey, code));
    std::string lower = code;
    for (auto &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(pc1CodeMatches(kKey, lower));
    EXPECT_FALSE(pc1CodeMatches("mKpRuTqWbNcZxJvl", code));
    EXPECT_FALSE(pc1CodeMatches(kKey, code.substr(0, 510)));
}

TEST(Pc1Cipher, ShortKeysArePaddedWithSpaces) {
    EXPECT_EQ(pc1Encrypt("abc", "payload"), pc1Encrypt("abc             ", "payload"));
    // Only the first 16 characters count.
    EXPECT_EQ(pc1Encrypt("0123456789abcdefXYZ", "payload"), pc1Encrypt("0123456789abcdef", "payload"));
}

TEST(ZLibFilter, StockFrameOfTheWorkedExample) {
    // Client to server in the stock order: PC1 over the marker and the message.
    std::string msg = R"({"method":"disconnect","params":[0]})";
    EXPECT_EQ(hex(pc1Encrypt(kKey, zlibWrap(msg, 1024))),
              "EF599F5FF2405172CBF59FEBF1FF98069B99644511575B8125F36DB547522D5F933228B3FD");
}

TEST(ZLibFilter, CompressesOnlyAboveTheThreshold) {
    std::string at(1024, 'a'), above(1025, 'a');
    EXPECT_EQ(zlibWrap(at, 1024), "\x02" + at);
    std::string z = zlibWrap(above, 1024);
    ASSERT_GE(z.size(), 3u);
    EXPECT_EQ(hex(z.substr(0, 3)), "017801"); // marker, zlib header of level 1
    EXPECT_EQ(zlibUnwrap(z, 1 << 20), above);
    EXPECT_EQ(zlibUnwrap("\x02xyz", 10), "xyz");
    EXPECT_EQ(zlibUnwrap("", 10), "");
    // Tiny inputs are compressed too once over a zero threshold, even if larger.
    EXPECT_EQ(zlibUnwrap(zlibWrap("x", 0), 10), "x");
}

TEST(ZLibFilter, RefusesBombsAndBrokenStreams) {
    std::string big(10u << 20, '\0');
    std::string bomb = zlibWrap(big, 0);
    EXPECT_LT(bomb.size(), 100000u);
    EXPECT_THROW(zlibUnwrap(bomb, 1u << 20), ProtocolError);
    EXPECT_EQ(zlibUnwrap(bomb, 10u << 20).size(), big.size());

    std::string z = zlibWrap(std::string(5000, 'q'), 10);
    EXPECT_THROW(zlibUnwrap(z.substr(0, z.size() - 3), 1 << 20), ProtocolError); // truncated
    EXPECT_THROW(zlibUnwrap(z + "junk", 1 << 20), ProtocolError);                // trailing bytes
    EXPECT_THROW(zlibUnwrap("\x01garbage", 1 << 20), ProtocolError);
}
