#include "dbx_reader.h"


#include <charconv>

#include "dbx_errors.h"
#include "dbx_text.h"
#include "hex_digit.h"

namespace datasnap {

DbxNode::DbxNode() = default;
DbxNode::DbxNode(const DbxNode &) = default;
DbxNode::DbxNode(DbxNode &&) noexcept = default;
DbxNode &DbxNode::operator=(const DbxNode &) = default;
DbxNode &DbxNode::operator=(DbxNode &&) noexcept = default;
DbxNode::~DbxNode() = default;

const DbxNode *DbxNode::find(std::string_view name) const {
    for (const auto &m : members)
        if (m.first == name)
            return &m.second;
    return nullptr;
}

std::int64_t DbxNode::integer() const {
    std::int64_t v = 0;
    if (kind != Kind::Number)
        throw ProtocolError("number expected");
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        throw ProtocolError("integer expected, got " + text.substr(0, 32));
    return v;
}

namespace {

// Thrown when the buffer ends inside a value; `need` is the buffer size that
// parsing needs at least.
struct Incomplete {
    std::size_t need;
};

class Parser {
public:
    Parser(std::string_view s, std::size_t pos, const DbxReaderLimits &limits) : s_(s), p_(pos), limits_(limits) {}

    DbxNode value(std::size_t depth) {
        if (depth > limits_.maxDepth)
            throw ProtocolError("message nested too deeply");
        skipSpace();
        char c = peek();
        switch (c) {
        case '{':
            return object(depth);
        case '[':
            return array(depth);
        case '"': {
            DbxNode n;
            n.kind = DbxNode::Kind::String;
            n.text = string();
            return n;
        }
        case 't':
            return literal("true", DbxNode::Kind::True);
        case 'f':
            return literal("false", DbxNode::Kind::False);
        case 'n':
            return literal("null", DbxNode::Kind::Null);
        default:
            if (c == '-' || (c >= '0' && c <= '9')) {
                DbxNode n;
                n.kind = DbxNode::Kind::Number;
                n.text = number();
                return n;
            }
            throw ProtocolError("unexpected byte " + std::to_string(static_cast<unsigned char>(c)) + " in message");
        }
    }

    void skipSpace() {
        for (;;) {
            char c = peek();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                ++p_;
            else
                return;
        }
    }
    std::size_t pos() const { return p_; }
    std::size_t dataBytes = 0; // raw bytes of the data blocks met so far, the unfinished one included

private:
    char peek() {
        if (p_ >= s_.size())
            throw Incomplete{p_ + 1};
        return s_[p_];
    }
    void expect(char c) {
        skipSpace();
        if (peek() != c)
            throw ProtocolError(std::string("'") + c + "' expected in message");
        ++p_;
    }

    DbxNode literal(std::string_view word, DbxNode::Kind kind) {
        for (char c : word) {
            if (peek() != c)
                throw ProtocolError("malformed literal in message");
            ++p_;
        }
        DbxNode n;
        n.kind = kind;
        return n;
    }

    std::string number() {
        std::size_t start = p_;
        if (peek() == '-')
            ++p_;
        for (;;) {
            char c = peek();
            if ((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-') {
                if (p_ - start > 64)
                    throw ProtocolError("number too long in message");
                ++p_;
            } else {
                break;
            }
        }
        if (p_ == start || (p_ == start + 1 && s_[start] == '-'))
            throw ProtocolError("malformed number in message");
        return std::string(s_.substr(start, p_ - start));
    }

    int hex(char c) {
        const int d = hexDigitValue(static_cast<unsigned char>(c));
        if (d < 0)
            throw ProtocolError("bad \\u escape in message");
        return d;
    }

    std::string string() {
        ++p_; // opening quote
        std::string out;
        Utf16Decoder dec(out);
        for (;;) {
            char c = peek();
            ++p_;
            if (c == '"')
                break;
            if (c != '\\') {
                dec.unit(static_cast<unsigned char>(c));
                continue;
            }
            char e = peek();
            ++p_;
            switch (e) {
            case 'b':
                dec.unit('\b');
                break;
            case 'f':
                dec.unit('\f');
                break;
            case 'n':
                dec.unit('\n');
                break;
            case 'r':
                dec.unit('\r');
                break;
            case 't':
                dec.unit('\t');
                break;
            case 'u': {
                if (p_ + 4 > s_.size())
                    throw Incomplete{p_ + 4};
                std::uint16_t u = 0;
                for (int k = 0; k < 4; ++k)
                    u = static_cast<std::uint16_t>(u << 4 | hex(s_[p_ + k]));
                p_ += 4;
                dec.unit(u);
                break;
            }
            default:
                dec.unit(static_cast<unsigned char>(e));
                break;
            }
        }
        dec.finish();
        return out;
    }

    DbxNode array(std::size_t depth) {
        ++p_;
        DbxNode n;
        n.kind = DbxNode::Kind::Array;
        skipSpace();
        if (peek() == ']') {
            ++p_;
            return n;
        }
        for (;;) {
            n.items.push_back(value(depth + 1));
            skipSpace();
            char c = peek();
            ++p_;
            if (c == ']')
                return n;
            if (c != ',')
                throw ProtocolError("',' or ']' expected in message");
        }
    }

    // After `{"data":[`: N, optional padding, a comma, then |N| raw bytes.
    DbxNode dataBlock() {
        skipSpace();
        std::string count = number();
        skipSpace();
        if (peek() != ',')
            throw ProtocolError("',' expected after a data block's length");
        ++p_;
        DbxNode n;
        n.kind = DbxNode::Kind::Data;
        auto r = std::from_chars(count.data(), count.data() + count.size(), n.count);
        if (r.ec != std::errc() || r.ptr != count.data() + count.size())
            throw ProtocolError("bad data block length");
        std::uint64_t len = n.count < 0 ? 0 - static_cast<std::uint64_t>(n.count) : static_cast<std::uint64_t>(n.count);
        if (len > limits_.maxMessage)
            throw ProtocolError("data block of " + count + " bytes is over the limit");
        dataBytes += static_cast<std::size_t>(len);
        if (p_ + len > s_.size())
            throw Incomplete{p_ + static_cast<std::size_t>(len) + 2};
        n.text.assign(s_.substr(p_, len));
        p_ += len;
        expect(']');
        expect('}');
        return n;
    }

    DbxNode object(std::size_t depth) {
        ++p_;
        DbxNode n;
        n.kind = DbxNode::Kind::Object;
        skipSpace();
        if (peek() == '}') {
            ++p_;
            return n;
        }
        bool first = true;
        for (;;) {
            skipSpace();
            if (peek() != '"')
                throw ProtocolError("member name expected in message");
            std::string name = string();
            expect(':');
            skipSpace();
            if (first && name == "data" && peek() == '[') {
                ++p_;
                return dataBlock();
            }
            bool error = first && depth == 0 && name == "error" && limits_.unclosedError;
            first = false;
            n.members.emplace_back(std::move(name), value(depth + 1));
            if (error)
                return n;
            skipSpace();
            char c = peek();
            ++p_;
            if (c == '}')
                return n;
            if (c != ',')
                throw ProtocolError("',' or '}' expected in message");
        }
    }

    std::string_view s_;
    std::size_t p_;
    const DbxReaderLimits &limits_;
};

} // namespace

void DbxStreamReader::append(std::string_view bytes) {
    if (pos_ > 0 && pos_ == buf_.size()) {
        buf_.clear();
        pos_ = 0;
    } else if (pos_ > 65536 && pos_ * 2 > buf_.size()) {
        buf_.erase(0, pos_);
        if (needed_ >= pos_)
            needed_ -= pos_;
        pos_ = 0;
    }
    buf_.append(bytes);
}

std::optional<DbxNode> DbxStreamReader::next() {
    for (;;) {
        while (pos_ < buf_.size() &&
               (buf_[pos_] == ' ' || buf_[pos_] == '\t' || buf_[pos_] == '\r' || buf_[pos_] == '\n'))
            ++pos_;
        if (pos_ == buf_.size()) {
            needed_ = 0;
            return std::nullopt;
        }
        if (storeHeader_ && static_cast<unsigned char>(buf_[pos_]) == 0xB7) {
            if (buf_.size() - pos_ < 9)
                return std::nullopt;
            pos_ += 9;
            continue;
        }
        break;
    }
    if (buf_[pos_] != '{')
        throw ProtocolError("message expected, got byte " + std::to_string(static_cast<unsigned char>(buf_[pos_])));
    if (buf_.size() < needed_)
        return std::nullopt;
    Parser parser(buf_, pos_, limits_);
    try {
        DbxNode n = parser.value(0);
        pos_ = parser.pos();
        needed_ = 0;
        return n;
    } catch (const Incomplete &inc) {
        std::size_t held = buf_.size() - pos_;
        if (held > limits_.maxMessage || inc.need - pos_ > limits_.maxMessage + 16)
            throw ProtocolError("message longer than " + std::to_string(limits_.maxMessage) + " bytes");
        if (held > parser.dataBytes && held - parser.dataBytes > limits_.maxStructure)
            throw ProtocolError("message structure longer than " + std::to_string(limits_.maxStructure) + " bytes");
        needed_ = inc.need;
        return std::nullopt;
    }
}

DbxNode parseDbxMessage(std::string_view text) {
    DbxReaderLimits limits;
    Parser parser(text, 0, limits);
    try {
        DbxNode n = parser.value(0);
        std::size_t end = parser.pos();
        while (end < text.size() && (text[end] == ' ' || text[end] == '\n' || text[end] == '\r' || text[end] == '\t'))
            ++end;
        if (end != text.size())
            throw ProtocolError("data after the message");
        return n;
    } catch (const Incomplete &) {
        throw ProtocolError("message ends early");
    }
}

} // namespace datasnap
