#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db_params.h"

namespace db {

// Which client library a connection loads when it opens. An empty VendorLib
// means the driver's default library name, found by the system's loader.
struct DriverLink {
    std::string VendorLib;
};

// The answer to a lost connection: give up, or reconnect and run the failed
// operation again.
enum class RecoverAction { Fail, Retry };

enum class LockMode { Optimistic, Pessimistic };

// One column value of a fetched row.
struct FieldValue {
    std::string Name;
    std::optional<std::string> Text; // empty optional: NULL
    bool IsNull() const { return !Text; }
    // The value as an integer; throws DbError when it is NULL or not a number.
    int64_t AsInteger() const;
};

using Row = std::vector<FieldValue>;

// A database connection with its parameter lines and event handlers, closed
// until Open. Open runs BeforeConnect, loads the client library named by the
// driver link, connects with the parameters and runs AfterConnect. When an
// operation finds the connection lost, OnRecover is asked what to do; a Retry
// reconnects and runs the operation again (at most kMaxRetries times in a row).
class Connection {
public:
    static constexpr int kMaxRetries = 3;

    explicit Connection(DriverLink &link) : link_(link) {}
    virtual ~Connection() = default;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    std::string ConnectionName;
    ParamList Params;
    bool LoginPrompt = false;
    LockMode UpdateLockMode = LockMode::Optimistic;

    std::function<void()> BeforeConnect;
    std::function<void()> AfterConnect;
    std::function<void()> AfterCommit;
    std::function<RecoverAction(const DbError &)> OnRecover;

    void Open();
    void Close();
    bool Connected() const;

    void StartTransaction();
    void Commit();
    void Rollback();
    bool InTransaction() const;

    // Runs a statement and returns its rows (none for a statement without a
    // result set). Outside an explicit transaction the statement commits on
    // its own.
    std::vector<Row> Execute(const std::string &sql);

    // The client library the last Open loaded, or empty.
    const std::string &LoadedLibrary() const { return loaded_; }

protected:
    // What a driver provides. `library` is the path to load.
    virtual void DoConnect(const std::string &library) = 0;
    virtual void DoDisconnect() = 0;
    virtual bool DoConnected() const = 0;
    virtual void DoStartTransaction() = 0;
    virtual void DoCommit() = 0;
    virtual void DoRollback() = 0;
    virtual bool DoInTransaction() const = 0;
    virtual std::vector<Row> DoExecute(const std::string &sql) = 0;
    virtual std::string DefaultLibrary() const = 0;

private:
    template <class Op> auto Recovering(Op op) -> decltype(op());
    void Reconnect();

    DriverLink &link_;
    std::string loaded_;
};

// A query on a connection: its text is a list of lines joined by line ends.
class Query {
public:
    explicit Query(Connection &connection) : connection_(connection) {}

    std::vector<std::string> SQL;

    // Runs the text and keeps the first row; throws DbError.
    void Open();
    void Close();
    bool Active() const { return active_; }
    bool Eof() const { return rows_.empty(); }

    // The first row's column `name` (ASCII case ignored); throws DbError when
    // the query is closed, returned no row or has no such column.
    const FieldValue &FieldByName(const std::string &name) const;

private:
    Connection &connection_;
    std::vector<Row> rows_;
    bool active_ = false;
};

} // namespace db
