#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace datasnap {

// One value of the DBX message stream. Strings are UTF-8; a `{"data":[N,<bytes>]}`
// block becomes a Data node holding the raw bytes and N as written (a negative
// N marks the last chunk of a blob).
struct DbxNode {
    enum class Kind { Null, False, True, Number, String, Array, Object, Data };
    using Member = std::pair<std::string, DbxNode>;

    // Defined where DbxNode is complete: the member vectors hold DbxNodes.
    DbxNode();
    DbxNode(const DbxNode &);
    DbxNode(DbxNode &&) noexcept;
    DbxNode &operator=(const DbxNode &);
    DbxNode &operator=(DbxNode &&) noexcept;
    ~DbxNode();

    Kind kind = Kind::Null;
    std::string text;  // Number: as written; String: UTF-8; Data: the raw bytes
    std::int64_t count = 0;  // Data: N as written
    std::vector<DbxNode> items;
    std::vector<Member> members;

    bool is(Kind k) const { return kind == k; }
    const DbxNode *find(std::string_view name) const;
    // The number as an integer; ProtocolError when it is not one.
    std::int64_t integer() const;
};

// Limits of one message; going beyond them raises ProtocolError.
struct DbxReaderLimits {
    std::size_t maxMessage = 64u << 20;  // bytes of one message, data blocks included
    std::size_t maxDepth = 32;
    // Bytes of a message outside its data blocks (names, strings, numbers):
    // bounded much lower, since an unfinished message is parsed again as
    // each frame arrives.
    std::size_t maxStructure = 1u << 20;
    bool unclosedError = false;
};

// Reads messages from the continuous DBX byte stream, however the stream was
// cut into frames: feed bytes as they come and take complete messages.
class DbxStreamReader {
public:
    explicit DbxStreamReader(DbxReaderLimits limits = {}) : limits_(limits) {}

    void append(std::string_view bytes);
    // The next complete message, or nothing until more bytes arrive. Raises
    // ProtocolError on malformed input.
    std::optional<DbxNode> next();
    std::size_t buffered() const { return buf_.size() - pos_; }

    // A client tolerates a binary data store header (0xB7 + 8 bytes) before a
    // result; a server never meets one.
    void allowStoreHeader(bool allow) { storeHeader_ = allow; }
    // A client reads an error reply up to the end of its inner object: the
    // platform never writes the outer closing brace.
    void clientSide() {
        storeHeader_ = true;
        limits_.unclosedError = true;
    }

private:
    DbxReaderLimits limits_;
    std::string buf_;
    std::size_t pos_ = 0;
    std::size_t needed_ = 0;  // buffered bytes below which parsing cannot finish
    bool storeHeader_ = false;
};

// Parses exactly one complete value from `text` (for tests and tools).
DbxNode parseDbxMessage(std::string_view text);

} // namespace datasnap
