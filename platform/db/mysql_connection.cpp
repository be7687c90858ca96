#include "mysql_connection.h"

#include <charconv>
#include <mutex>

#include <mariadb/errmsg.h>
#include <mariadb/mysql.h>

#include "client_library.h"

namespace db {

namespace {

struct MyApi {
    decltype(&mysql_init) init = nullptr;
    decltype(&mysql_options) options = nullptr;
    decltype(&mysql_real_connect) connect = nullptr;
    decltype(&mysql_close) close = nullptr;
    decltype(&mysql_errno) errnum = nullptr;
    decltype(&mysql_error) error = nullptr;
    decltype(&mysql_real_query) query = nullptr;
    decltype(&mysql_field_count) fieldCount = nullptr;
    decltype(&mysql_store_result) storeResult = nullptr;
    decltype(&mysql_free_result) freeResult = nullptr;
    decltype(&mysql_num_fields) numFields = nullptr;
    decltype(&mysql_fetch_fields) fetchFields = nullptr;
    decltype(&mysql_fetch_row) fetchRow = nullptr;
    decltype(&mysql_fetch_lengths) fetchLengths = nullptr;
    decltype(&mysql_commit) commit = nullptr;
    decltype(&mysql_rollback) rollback = nullptr;

    explicit MyApi(const ClientLibrary &lib) {
        lib.Bind(init, "mysql_init");
        lib.Bind(options, "mysql_options");
        lib.Bind(connect, "mysql_real_connect");
        lib.Bind(close, "mysql_close");
        lib.Bind(errnum, "mysql_errno");
        lib.Bind(error, "mysql_error");
        lib.Bind(query, "mysql_real_query");
        lib.Bind(fieldCount, "mysql_field_count");
        lib.Bind(storeResult, "mysql_store_result");
        lib.Bind(freeResult, "mysql_free_result");
        lib.Bind(numFields, "mysql_num_fields");
        lib.Bind(fetchFields, "mysql_fetch_fields");
        lib.Bind(fetchRow, "mysql_fetch_row");
        lib.Bind(fetchLengths, "mysql_fetch_lengths");
        lib.Bind(commit, "mysql_commit");
        lib.Bind(rollback, "mysql_rollback");
    }
};

// mysql_init sets up the library on its first call, which is not thread-safe.
std::mutex initMutex;

} // namespace

struct MySqlConnection::Impl {
    std::unique_ptr<MyApi> api;
    MYSQL *my = nullptr;
    bool inTransaction = false;

    [[noreturn]] void fail() {
        unsigned code = api->errnum(my);
        std::string message = std::to_string(code) + ": " + api->error(my);
        if (code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST)
            throw ConnectionLostError(message, static_cast<long>(code));
        throw DbError(message, static_cast<long>(code));
    }
    void run(const std::string &sql) {
        if (api->query(my, sql.data(), sql.size()) != 0)
            fail();
    }
};

MySqlConnection::MySqlConnection(DriverLink &link) : Connection(link), impl_(std::make_unique<Impl>()) {}

MySqlConnection::~MySqlConnection() {
    DoDisconnect();
}

void MySqlConnection::DoConnect(const std::string &library) {
    unsigned port = 0;
    if (auto p = Params.Value("Port"); !p.empty()) {
        auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), port);
        if (ec != std::errc() || end != p.data() + p.size() || port > 65535)
            throw DbError("Invalid port " + p);
    }
    const std::string server = Params.Value("Server"), database = Params.Value("Database"),
                      user = Params.Value("User_Name"), password = Params.Value("Password"),
                      charset = Params.Value("CharacterSet");

    impl_->api = std::make_unique<MyApi>(ClientLibrary::Load(library));
    MYSQL *my = nullptr;
    {
        std::lock_guard lock(initMutex);
        my = impl_->api->init(nullptr);
    }
    if (!my)
        throw DbError("MySQL client out of memory");
    impl_->api->options(my, MYSQL_SET_CHARSET_NAME, charset.empty() ? "utf8mb4" : charset.c_str());
    if (!impl_->api->connect(my, server.empty() ? "localhost" : server.c_str(), user.c_str(), password.c_str(),
                             database.empty() ? nullptr : database.c_str(), port, nullptr, 0)) {
        const unsigned code = impl_->api->errnum(my);
        const std::string message = std::to_string(code) + ": " + impl_->api->error(my);
        impl_->api->close(my);
        throw DbError(message, static_cast<long>(code));
    }
    impl_->my = my;
}

void MySqlConnection::DoDisconnect() {
    if (impl_->my) {
        impl_->api->close(impl_->my);
        impl_->my = nullptr;
    }
    impl_->inTransaction = false;
}

bool MySqlConnection::DoConnected() const {
    return impl_->my != nullptr;
}

void MySqlConnection::DoStartTransaction() {
    if (impl_->inTransaction)
        throw DbError("A transaction is already active");
    impl_->run("START TRANSACTION");
    impl_->inTransaction = true;
}

void MySqlConnection::DoCommit() {
    if (!impl_->inTransaction)
        throw DbError("No active transaction");
    if (impl_->api->commit(impl_->my))
        impl_->fail();
    impl_->inTransaction = false;
}

void MySqlConnection::DoRollback() {
    if (!impl_->inTransaction)
        throw DbError("No active transaction");
    impl_->inTransaction = false;
    if (impl_->api->rollback(impl_->my))
        impl_->fail();
}

bool MySqlConnection::DoInTransaction() const {
    return impl_->inTransaction;
}

std::vector<Row> MySqlConnection::DoExecute(const std::string &sql) {
    Impl &m = *impl_;
    m.run(sql);
    std::vector<Row> rows;
    if (m.api->fieldCount(m.my) == 0)
        return rows;
    MYSQL_RES *res = m.api->storeResult(m.my);
    if (!res)
        m.fail();
    const unsigned n = m.api->numFields(res);
    MYSQL_FIELD *fields = m.api->fetchFields(res);
    while (MYSQL_ROW r = m.api->fetchRow(res)) {
        unsigned long *lengths = m.api->fetchLengths(res);
        Row row;
        for (unsigned i = 0; i < n; ++i) {
            FieldValue f;
            f.Name = fields[i].name;
            if (r[i])
                f.Text = std::string(r[i], lengths[i]);
            row.push_back(std::move(f));
        }
        rows.push_back(std::move(row));
    }
    m.api->freeResult(res);
    return rows;
}

} // namespace db
