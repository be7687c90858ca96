#pragma once

#include <memory>

#include "db_connection.h"

namespace db {

// A MySQL / MariaDB connection through the client library's C API
// (libmariadb or libmysqlclient). Parameters: Server (host, default
// localhost), Port, Database, User_Name, Password, CharacterSet (utf8mb4 when
// absent).
class MySqlConnection : public Connection {
public:
    explicit MySqlConnection(DriverLink &link);
    ~MySqlConnection() override;

protected:
    void DoConnect(const std::string &library) override;
    void DoDisconnect() override;
    bool DoConnected() const override;
    void DoStartTransaction() override;
    void DoCommit() override;
    void DoRollback() override;
    bool DoInTransaction() const override;
    std::vector<Row> DoExecute(const std::string &sql) override;
    std::string DefaultLibrary() const override { return "libmariadb.so.3"; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace db
