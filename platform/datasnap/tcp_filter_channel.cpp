#include "tcp_filter_channel.h"

#include <algorithm>
#include <charconv>

#include "dbx_errors.h"
#include "dbx_text.h"
#include "json_value.h"
#include "pc1_cipher.h"
#include "zlib_filter.h"

namespace datasnap {

namespace {

constexpr char kQuery[] = "\x05\x05\x05\x05\x05";
constexpr char kNoFilter[] = "\x06\x00\x00\x00\x00";
constexpr std::size_t kHeader = 5;

std::string header(char kind, std::size_t len) {
    std::string h(kHeader, '\0');
    h[0] = kind;
    h[1] = static_cast<char>(len >> 24);
    h[2] = static_cast<char>(len >> 16);
    h[3] = static_cast<char>(len >> 8);
    h[4] = static_cast<char>(len);
    return h;
}

std::size_t headerLength(std::string_view h) {
    return std::size_t(static_cast<unsigned char>(h[1])) << 24 | std::size_t(static_cast<unsigned char>(h[2])) << 16 |
           std::size_t(static_cast<unsigned char>(h[3])) << 8 | static_cast<unsigned char>(h[4]);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

[[noreturn]] void invalidParameter(const std::string &what) {
    throw ProtocolError("Invalid filter parameter: " + what);
}

} // namespace

std::string filterId(TransportFilter::Kind kind) {
    return kind == TransportFilter::Kind::Pc1 ? "PC1" : "ZLibCompression";
}

FilterChannel::FilterChannel(Role role, std::vector<TransportFilter> filters, ChannelLimits limits)
    : role_(role), ours_(std::move(filters)), limits_(limits) {
    for (auto &f : ours_)
        if (f.kind == TransportFilter::Kind::Pc1 && f.key.empty())
            f.key = pc1RandomKey();
}

std::string FilterChannel::open() {
    if (role_ != Role::Client)
        return {};
    return std::string(kQuery, kHeader);
}

std::string FilterChannel::description() const {
    std::string out = "{";
    bool first = true;
    auto add = [&](TransportFilter::Kind kind, const std::string &key, std::size_t threshold) {
        if (!first)
            out.push_back(',');
        first = false;
        appendRtlJsonString(out, filterId(kind));
        if (kind == TransportFilter::Kind::Pc1) {
            out += ":{\"Key\":";
            appendRtlJsonString(out, key);
            out += ",\"CODE\":\"" + pc1Code(key) + "\",\"FilterUnit\":\"DbxSocketChannelNative\"}";
        } else {
            out +=
                ":{\"FilterUnit\":\"DbxCompressionFilter\",\"CompressMoreThan\":\"" + std::to_string(threshold) + "\"}";
        }
    };
    if (role_ == Role::Client && !peerOrder_.empty()) {
        // After the server's description: our list as we apply it.
        for (const auto &a : seq_)
            add(a.kind, a.localKey, a.threshold);
    } else {
        for (const auto &f : ours_)
            add(f.kind, f.key, f.compressMoreThan);
    }
    out.push_back('}');
    return out;
}

void FilterChannel::adoptPeerDescription(std::string_view text) {
    json::Value doc;
    try {
        doc = json::parse(text);
    } catch (const json::ParseError &e) {
        throw ProtocolError(std::string("malformed filter description: ") + e.what());
    }
    if (!doc.isObject())
        throw ProtocolError("filter description is not an object");

    struct Peer {
        TransportFilter::Kind kind;
        std::string key;
        std::size_t threshold = 0;
        bool hasThreshold = false;
    };
    std::vector<Peer> peers;
    for (const auto &[id, params] : doc.members) {
        Peer p{};
        if (equalsNoCase(id, "PC1"))
            p.kind = TransportFilter::Kind::Pc1;
        else if (equalsNoCase(id, "ZLibCompression"))
            p.kind = TransportFilter::Kind::ZLib;
        else
            throw ProtocolError("filter not registered: " + id.substr(0, 64));
        for (const auto &q : peers)
            if (q.kind == p.kind)
                throw ProtocolError("filter listed twice: " + id);
        if (!params.isNull() && !params.isObject())
            invalidParameter(id);
        std::string code;
        bool hasCode = false;
        for (const auto &[name, v] : params.members) {
            if (!v.isNull() && !v.isString())
                invalidParameter(name.substr(0, 64));
            const std::string &value = v.text;
            if (p.kind == TransportFilter::Kind::Pc1) {
                // The platform takes Key and CODE and lets any other name pass.
                if (name == "Key")
                    p.key = value;
                else if (name == "CODE") {
                    code = value;
                    hasCode = true;
                }
            } else if (name == "CompressMoreThan") {
                std::size_t t = 0;
                auto r = std::from_chars(value.data(), value.data() + value.size(), t);
                if (value.empty() || r.ec != std::errc() || r.ptr != value.data() + value.size())
                    invalidParameter("CompressMoreThan=" + value.substr(0, 32));
                p.threshold = t;
                p.hasThreshold = true;
            } else if (name == "FilterUnit") {
                if (!equalsNoCase(value, "DbxCompressionFilter"))
                    invalidParameter("FilterUnit=" + value.substr(0, 64));
            } else {
                invalidParameter(name.substr(0, 64));
            }
        }
        if (p.kind == TransportFilter::Kind::Pc1) {
            if (p.key.empty())
                invalidParameter("PC1 Key is empty");
            if (hasCode && !pc1CodeMatches(p.key, code))
                invalidParameter("CODE");
        }
        peers.push_back(std::move(p));
    }

    auto local = [&](TransportFilter::Kind kind) -> const TransportFilter * {
        for (const auto &f : ours_)
            if (f.kind == kind)
                return &f;
        return nullptr;
    };
    auto activate = [&](const Peer &p) {
        Active a;
        a.kind = p.kind;
        a.peerKey = p.key;
        const TransportFilter *mine = local(p.kind);
        a.localKey = mine ? mine->key : (p.kind == TransportFilter::Kind::Pc1 ? pc1RandomKey() : std::string());
        a.threshold = p.hasThreshold ? p.threshold : (mine ? mine->compressMoreThan : 1024);
        return a;
    };

    for (const auto &p : peers)
        peerOrder_.push_back(p.kind);
    seq_.clear();
    if (role_ == Role::Server) {
        for (auto it = peers.rbegin(); it != peers.rend(); ++it)
            seq_.push_back(activate(*it));
    } else if (ours_.empty()) {
        for (auto it = peers.rbegin(); it != peers.rend(); ++it)
            seq_.push_back(activate(*it));
    } else {
        for (const auto &f : ours_) {
            auto it = std::find_if(peers.begin(), peers.end(), [&](const Peer &p) { return p.kind == f.kind; });
            if (it == peers.end())
                throw ProtocolError("the server has no " + filterId(f.kind) + " filter");
            seq_.push_back(activate(*it));
        }
    }
}

void FilterChannel::receive(std::string_view bytes, std::string &stream, std::string &reply) {
    if (state_ == State::Raw) {
        stream.append(bytes);
        return;
    }
    in_.append(bytes);
    if (state_ == State::Start) {
        if (in_.size() < kHeader)
            return;
        std::string_view h(in_.data(), kHeader);
        if (role_ == Role::Server) {
            if (h == std::string_view(kQuery, kHeader)) {
                if (ours_.empty()) {
                    reply.append(kNoFilter, kHeader);
                    state_ = State::Raw;
                } else {
                    std::string d = description();
                    reply += header('\x0D', d.size()) + d;
                    state_ = State::AwaitDescription;
                }
                in_.erase(0, kHeader);
            } else if (ours_.empty()) {
                state_ = State::Raw;
            } else {
                throw ProtocolError("filter query expected");
            }
        } else {
            if (h == std::string_view(kNoFilter, kHeader)) {
                seq_.clear();
                state_ = State::Raw;
                in_.erase(0, kHeader);
            } else {
                state_ = State::AwaitDescription;
            }
        }
        if (state_ == State::Raw) {
            stream.append(in_);
            in_.clear();
            return;
        }
    }
    if (state_ == State::AwaitDescription) {
        if (in_.size() < kHeader)
            return;
        if (in_[0] != '\x0D')
            throw ProtocolError(in_[0] == '\x07' ? "public-key filters are not supported"
                                                 : "filter description frame expected");
        std::size_t len = headerLength(in_);
        if (len > limits_.maxHandshake)
            throw ProtocolError("filter description of " + std::to_string(len) + " bytes is over the limit");
        if (in_.size() < kHeader + len)
            return;
        adoptPeerDescription(std::string_view(in_).substr(kHeader, len));
        in_.erase(0, kHeader + len);
        if (role_ == Role::Client) {
            std::string d = description();
            reply += header('\x0D', d.size()) + d;
        }
        state_ = State::Framed;
    }
    decodeFrames(stream);
}

void FilterChannel::decodeFrames(std::string &stream) {
    std::size_t pos = 0;
    while (in_.size() - pos >= kHeader) {
        std::string_view h(in_.data() + pos, kHeader);
        if (h[0] != '\x0D')
            throw ProtocolError("frame header expected, got byte " + std::to_string(static_cast<unsigned char>(h[0])));
        std::size_t len = headerLength(h);
        if (len > limits_.maxFrame)
            throw ProtocolError("frame of " + std::to_string(len) + " bytes is over the limit");
        if (in_.size() - pos - kHeader < len)
            break;
        stream += undo(in_.substr(pos + kHeader, len));
        pos += kHeader + len;
    }
    in_.erase(0, pos);
}

std::string FilterChannel::undo(std::string payload) const {
    for (const auto &a : seq_) {
        if (a.kind == TransportFilter::Kind::Pc1)
            Pc1Cipher(a.peerKey).decrypt(payload);
        else
            payload = zlibUnwrap(payload, limits_.maxInflated);
    }
    return payload;
}

std::string FilterChannel::encode(std::string_view message) const {
    if (state_ == State::Raw)
        return std::string(message);
    if (state_ != State::Framed)
        throw std::logic_error("filter channel not established");
    std::string payload(message);
    for (const auto &a : seq_) {
        if (a.kind == TransportFilter::Kind::Pc1)
            Pc1Cipher(a.localKey).encrypt(payload);
        else
            payload = zlibWrap(payload, a.threshold);
    }
    return header('\x0D', payload.size()) + payload;
}

} // namespace datasnap
