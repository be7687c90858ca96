#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace datasnap {

// One transport filter as a side of the TCP channel holds it.
struct TransportFilter {
    enum class Kind { Pc1, ZLib };
    Kind kind;
    std::string key;                // Pc1: our key (encrypts what we send)
    std::size_t compressMoreThan = 1024;  // ZLib: our threshold, replaced by the peer's

    static TransportFilter pc1(std::string key) { return {Kind::Pc1, std::move(key), 0}; }
    static TransportFilter zlib(std::size_t threshold = 1024) { return {Kind::ZLib, {}, threshold}; }
};

std::string filterId(TransportFilter::Kind kind);

// Bounds of what a peer may send through the channel.
struct ChannelLimits {
    std::size_t maxFrame = 16u << 20;      // payload bytes of one frame
    std::size_t maxInflated = 16u << 20;   // bytes one compressed frame may inflate to
    std::size_t maxHandshake = 64u << 10;  // bytes of the peer's filter description
};

// The filter channel of a DataSnap TCP connection, without I/O: the five-byte
// filter query, the exchange of filter descriptions, then frames of 0x0D +
// big-endian length + filtered payload. A side with no filters on either end
// speaks the bare stream.
//
// The server learns the transform order from the member order of the client's
// description: it undoes and applies the filters in the reverse of the
// client's list, which is what the client's own (same-order) read and write
// expect. So clients listing ZLibCompression first, PC1 first, or adopting
// ours all work.
class FilterChannel {
public:
    enum class Role { Server, Client };

    // `filters`: this side's list in its order. A client with an empty list
    // adopts the server's filters in reverse order, as stock clients do.
    FilterChannel(Role role, std::vector<TransportFilter> filters, ChannelLimits limits = {});

    // Client: the bytes that open the channel (the filter query).
    std::string open();

    // Takes bytes from the socket. Stream bytes decoded from them are appended
    // to `stream`; handshake bytes this side must send are appended to `reply`.
    // Raises ProtocolError on a broken handshake, frame or limit.
    void receive(std::string_view bytes, std::string &stream, std::string &reply);

    // The wire bytes of one write of the message stream: one frame, or the
    // bytes themselves on an unfiltered channel.
    std::string encode(std::string_view message) const;

    bool established() const { return state_ == State::Framed || state_ == State::Raw; }
    bool filtered() const { return state_ == State::Framed; }
    // True when established and no partial frame is waiting for its rest.
    bool idle() const { return established() && in_.empty(); }
    // The filters in the order the peer's description listed them.
    const std::vector<TransportFilter::Kind> &peerOrder() const { return peerOrder_; }
    // This side's filter description, as sent in the handshake.
    std::string description() const;

private:
    enum class State { Start, AwaitDescription, Framed, Raw };
    struct Active {
        TransportFilter::Kind kind;
        std::string localKey;
        std::string peerKey;
        std::size_t threshold = 1024;
    };

    void adoptPeerDescription(std::string_view json);
    void decodeFrames(std::string &stream);
    std::string undo(std::string payload) const;

    Role role_;
    std::vector<TransportFilter> ours_;
    ChannelLimits limits_;
    State state_ = State::Start;
    std::string in_;
    std::vector<Active> seq_;  // the order in which transforms are applied, sending and receiving alike
    std::vector<TransportFilter::Kind> peerOrder_;
};

} // namespace datasnap
