#pragma once

#include <memory>

#include "db_connection.h"

namespace db {

// A Firebird connection through the client library's C API. Parameters:
// Database (a file path for the embedded engine, or host:path), User_Name,
// Password, CharacterSet (UTF8 when absent, so texts come back as UTF-8).
// Statements outside an explicit transaction run in a transaction of their
// own that is committed at once.
class FirebirdConnection : public Connection {
public:
    explicit FirebirdConnection(DriverLink &link);
    ~FirebirdConnection() override;

protected:
    void DoConnect(const std::string &library) override;
    void DoDisconnect() override;
    bool DoConnected() const override;
    void DoStartTransaction() override;
    void DoCommit() override;
    void DoRollback() override;
    bool DoInTransaction() const override;
    std::vector<Row> DoExecute(const std::string &sql) override;
    std::string DefaultLibrary() const override { return "libfbclient.so.2"; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace db
