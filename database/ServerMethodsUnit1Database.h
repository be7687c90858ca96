#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Settings.h"
#include "client_search.h"
#include "db_connection.h"
#include "firebird_connection.h"
#include "mysql_connection.h"

// What the database side of the remote methods module reads from, and writes
// to, the main window object. Every member may be left empty: an empty Base or
// Settings reads as empty text, servico as false, and nothing is shown or set.
struct TDatabaseHost {
    std::function<std::shared_ptr<const TSettings>()> Settings; // Usuario and Senha
    std::function<std::string()> Base;                          // database location
    std::function<bool()> servico;                              // service mode: no message boxes
    std::function<void(bool)> SetFiscal;                        // the main window's Fiscal
    std::function<void(const std::string &)> ShowMessage;       // a desktop message box
};

// The database side of the remote methods module (TServerMethods1 derives from
// it): a Firebird and a MySQL connection with their driver links, prepared
// when the module is created and opened by nothing in the print path. The
// handlers run when someone opens a connection (the administrator's database
// check does).
class TServerMethods1Database {
public:
    // Sets the components up (closed) and runs DSServerModuleCreate.
    explicit TServerMethods1Database(TDatabaseHost host = {},
                                     db::ClientSearchFolders folders = db::ClientSearchFolders::System());
    ~TServerMethods1Database();
    TServerMethods1Database(const TServerMethods1Database &) = delete;
    TServerMethods1Database &operator=(const TServerMethods1Database &) = delete;

    // Components, in creation order.
    db::DriverLink FDPhysFBDriverLink1;
    db::FirebirdConnection FDConnection1{FDPhysFBDriverLink1};
    db::Query FDQuery2{FDConnection1};
    db::DriverLink FDPhysMySQLDriverLink1;
    db::MySqlConnection MyDatabase1{FDPhysMySQLDriverLink1};

    // The module's creation handler.
    void DSServerModuleCreate();

    // Client library search: the first existing candidate becomes VendorLib.
    void LocateMySQLClient(db::DriverLink &link);
    void LocateFirebirdClient();

    // The system's shared library folders (where Windows has its Windows
    // folder's SYSWOW64 and system32).
    std::vector<std::string> GetSystemLibraryFolders() const;

    // True when the Firebird database has the field in the table.
    bool FieldExists(const std::string &field, const std::string &table);

    // Connection handlers.
    void FDConnection1BeforeConnect();
    void FDConnection1AfterConnect();
    db::RecoverAction FDConnection1Recover(const db::DbError &error);
    db::RecoverAction MyDatabase1Recover(const db::DbError &error);
    void MyDatabase1AfterCommit();

protected:
    TDatabaseHost databaseHost_;
    db::ClientSearchFolders folders_;

private:
    bool inAfterCommit_ = false;
};

// The outcome of the administrator's database check.
struct TDatabaseCheck {
    bool Connected = false;
    bool Fiscal = false;
    std::string Database;  // the Database parameter used
    std::string VendorLib; // the Firebird client library found (empty: the system's default)
    std::string Error;     // why the connection failed
};

// Opens the Firebird connection of a fresh remote methods module the way the
// server would (the handlers run: client search, Base and account from the
// settings, the field test), then closes it. Fiscal is handed to the host as
// well as returned.
TDatabaseCheck CheckDatabaseLink(TDatabaseHost host);

// The check's report for people, one fact per line:
//   Database: <path>
//   Client library: <path or "(system default)">
//   Connected: yes | no: <error>
//   Fiscal: True | False
std::string FormatDatabaseCheck(const TDatabaseCheck &check);
