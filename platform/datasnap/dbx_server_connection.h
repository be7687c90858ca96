#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbx_reader.h"
#include "dbx_row.h"
#include "ds_server.h"

namespace datasnap {

// Bounds of what one TCP client may make the server hold.
struct DbxLimits {
    std::size_t maxMessage = 16u << 20;    // one message, its data blocks included
    std::size_t maxBlob = 16u << 20;       // one string pulled with more_blob, in encoded bytes
    std::size_t maxCommands = 1024;        // prepared commands open at once
    std::size_t maxStructure = 256u << 10; // one message without its data blocks
};

// The server's side of the DBX message layer of one TCP connection, without
// I/O: takes the decoded stream bytes, answers connect, prepare, execute (with
// the more_blob pulls of long inputs and of long results), command_close,
// disconnect and vendor_property, and reports failed requests with the
// platform's error reply. Each element of the writes it produces is one flush
// (one frame on a filtered channel).
class DbxServerConnection {
public:
    DbxServerConnection(Server &server, AuthenticationManager *manager, std::shared_ptr<Session> session,
                        DbxLimits limits = {});

    // Handles every complete message in the stream so far. Raises
    // ProtocolError when the client broke the protocol or a limit; the
    // connection must then be closed.
    void receive(std::string_view bytes, std::vector<std::string> &writes);

    // True once the connection should end: after `disconnect`, or when a
    // refused client keeps sending requests.
    bool finished() const { return finished_; }
    const std::string &finishReason() const { return finishReason_; }
    // True between messages: nothing partial buffered, no pull in progress.
    bool idle() const { return reader_.buffered() == 0 && !pending_; }

    // Result strings longer than this go out truncated; the client pulls the
    // rest (the stock server keeps 30,717 bytes inline).
    static constexpr std::size_t kInlineResult = 30717;

private:
    struct Command {
        Server::Found target;
        std::string text;
        std::map<int, std::string> pendingBlobs;  // result ordinal -> bytes the client may still pull
    };
    struct PendingExecute {
        std::int64_t handle;
        std::vector<DbxRowField> fields;
        std::size_t field = 0;  // index of the field being pulled
        int blobId = 0;
    };

    void handle(const DbxNode &msg, std::vector<std::string> &writes);
    void onConnect(const DbxNode &params, std::vector<std::string> &writes);
    void onPrepare(const DbxNode &params, std::vector<std::string> &writes);
    void onExecute(const DbxNode &params, std::vector<std::string> &writes);
    void onMoreBlob(const DbxNode &params, std::vector<std::string> &writes);
    void onBlobChunk(const DbxNode &data, std::vector<std::string> &writes);
    bool requestNextBlob(std::vector<std::string> &writes);
    void run(PendingExecute &exec, std::vector<std::string> &writes);
    bool admitted(std::string_view request);

    Server &server_;
    AuthenticationManager *manager_;
    std::shared_ptr<Session> session_;
    DbxLimits limits_;
    DbxStreamReader reader_;
    std::map<std::int64_t, Command> commands_;
    std::int64_t nextHandle_ = 0;
    std::optional<PendingExecute> pending_;
    enum class Auth { None, Admitted, Refused } auth_ = Auth::None;
    bool finished_ = false;
    std::string finishReason_;
};

// The platform's error reply: note the missing final brace, which stock
// clients expect.
std::string dbxErrorReply(std::string_view className, int code, std::string_view message);

} // namespace datasnap
