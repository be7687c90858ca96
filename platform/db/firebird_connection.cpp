#include "firebird_connection.h"

#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <mutex>
#include <sstream>

#include <ibase.h>
#include <iberror.h>

#include "client_library.h"

namespace db {

namespace {

// Stops the client's engine threads (the embedded engine runs some) at process
// exit, before the runtime's own exit work, so that they are not torn down
// half-way through a leak check or a static destructor. Registered once, for
// the first client library loaded.
void registerShutdown(const ClientLibrary &lib) {
    static std::once_flag once;
    static decltype(&fb_shutdown) shutdown = nullptr;
    std::call_once(once, [&] {
        lib.Bind(shutdown, "fb_shutdown");
        std::atexit([] { shutdown(5000, fb_shutrsn_exit_called); });
    });
}

// The entry points this connection uses, bound from the loaded library.
struct FbApi {
    decltype(&isc_attach_database) attach = nullptr;
    decltype(&isc_detach_database) detach = nullptr;
    decltype(&isc_start_transaction) start = nullptr;
    decltype(&isc_commit_transaction) commit = nullptr;
    decltype(&isc_rollback_transaction) rollback = nullptr;
    decltype(&isc_dsql_allocate_statement) allocate = nullptr;
    decltype(&isc_dsql_prepare) prepare = nullptr;
    decltype(&isc_dsql_describe) describe = nullptr;
    decltype(&isc_dsql_execute) execute = nullptr;
    decltype(&isc_dsql_fetch) fetch = nullptr;
    decltype(&isc_dsql_free_statement) freeStatement = nullptr;
    decltype(&fb_interpret) interpret = nullptr;
    decltype(&isc_sqlcode) sqlcode = nullptr;

    explicit FbApi(const ClientLibrary &lib) {
        registerShutdown(lib);
        lib.Bind(attach, "isc_attach_database");
        lib.Bind(detach, "isc_detach_database");
        lib.Bind(start, "isc_start_transaction");
        lib.Bind(commit, "isc_commit_transaction");
        lib.Bind(rollback, "isc_rollback_transaction");
        lib.Bind(allocate, "isc_dsql_allocate_statement");
        lib.Bind(prepare, "isc_dsql_prepare");
        lib.Bind(describe, "isc_dsql_describe");
        lib.Bind(execute, "isc_dsql_execute");
        lib.Bind(fetch, "isc_dsql_fetch");
        lib.Bind(freeStatement, "isc_dsql_free_statement");
        lib.Bind(interpret, "fb_interpret");
        lib.Bind(sqlcode, "isc_sqlcode");
    }
};

bool isConnectionLost(const ISC_STATUS *status) {
    for (const ISC_STATUS *p = status; *p != isc_arg_end;) {
        ISC_STATUS kind = *p++;
        ISC_STATUS value = *p++;
        if (kind == isc_arg_gds &&
            (value == isc_network_error || value == isc_net_read_err || value == isc_net_write_err ||
             value == isc_lost_db_connection || value == isc_shutdown || value == isc_att_shutdown))
            return true;
        if (kind == isc_arg_cstring) // a counted string takes one more slot
            ++p;
    }
    return false;
}

// Fixed-point decimal text of an integer with `scale` (negative: digits after the point).
std::string scaled(int64_t v, int scale) {
    if (scale >= 0) {
        std::string s = std::to_string(v);
        return v == 0 ? s : s + std::string(static_cast<size_t>(scale), '0');
    }
    bool neg = v < 0;
    uint64_t u = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    std::string digits = std::to_string(u);
    size_t frac = static_cast<size_t>(-scale);
    if (digits.size() <= frac)
        digits.insert(0, frac - digits.size() + 1, '0');
    digits.insert(digits.size() - frac, ".");
    return (neg ? "-" : "") + digits;
}

constexpr short kOctets = 1; // character set id of binary text

// An output descriptor with a buffer for each column.
class Sqlda {
public:
    explicit Sqlda(short columns) : raw_(XSQLDA_LENGTH(columns < 1 ? 1 : columns)) {
        da()->version = SQLDA_VERSION1;
        da()->sqln = columns < 1 ? 1 : columns;
    }
    XSQLDA *da() { return reinterpret_cast<XSQLDA *>(raw_.data()); }

    void allocate() {
        buffers_.clear();
        nulls_.assign(static_cast<size_t>(da()->sqld), 0);
        for (short i = 0; i < da()->sqld; ++i) {
            XSQLVAR &v = da()->sqlvar[i];
            size_t len = static_cast<size_t>(v.sqllen) + ((v.sqltype & ~1) == SQL_VARYING ? sizeof(short) : 0);
            // Each column's buffer is a heap block of its own, so its address
            // stays put while more buffers are added.
            buffers_.push_back(std::make_unique<char[]>(len + 8));
            v.sqldata = buffers_.back().get();
            v.sqlind = &nulls_[static_cast<size_t>(i)];
        }
    }

    Row row() {
        Row r;
        for (short i = 0; i < da()->sqld; ++i) {
            XSQLVAR &v = da()->sqlvar[i];
            FieldValue f;
            f.Name.assign(v.aliasname, static_cast<size_t>(v.aliasname_length));
            if ((v.sqltype & 1) && *v.sqlind < 0) {
                r.push_back(std::move(f));
                continue;
            }
            f.Text = text(v);
            r.push_back(std::move(f));
        }
        return r;
    }

private:
    static std::string text(const XSQLVAR &v) {
        const char *p = v.sqldata;
        switch (v.sqltype & ~1) {
        case SQL_TEXT: {
            // Fixed-length text comes padded to its byte length; the padding is
            // dropped, as datasets do, except for binary (OCTETS) columns.
            std::string s(p, static_cast<size_t>(v.sqllen));
            if (v.sqlsubtype != kOctets)
                s.erase(s.find_last_not_of(' ') + 1);
            return s;
        }
        case SQL_VARYING: {
            short n;
            std::memcpy(&n, p, sizeof n);
            return std::string(p + sizeof n, static_cast<size_t>(n));
        }
        case SQL_SHORT: {
            short x;
            std::memcpy(&x, p, sizeof x);
            return scaled(x, v.sqlscale);
        }
        case SQL_LONG: {
            int32_t x;
            std::memcpy(&x, p, sizeof x);
            return scaled(x, v.sqlscale);
        }
        case SQL_INT64: {
            int64_t x;
            std::memcpy(&x, p, sizeof x);
            return scaled(x, v.sqlscale);
        }
        case SQL_BOOLEAN:
            return *p ? "True" : "False";
        case SQL_FLOAT: {
            float x;
            std::memcpy(&x, p, sizeof x);
            std::ostringstream s;
            s << std::setprecision(9) << x;
            return s.str();
        }
        case SQL_DOUBLE: {
            double x;
            std::memcpy(&x, p, sizeof x);
            std::ostringstream s;
            s << std::setprecision(17) << x;
            return s.str();
        }
        default:
            throw DbError("Unsupported column type " + std::to_string(v.sqltype & ~1));
        }
    }

    std::vector<char> raw_;
    std::vector<std::unique_ptr<char[]>> buffers_;
    std::vector<short> nulls_;
};

} // namespace

struct FirebirdConnection::Impl {
    std::unique_ptr<FbApi> api;
    isc_db_handle db = 0;
    isc_tr_handle tr = 0;
    ISC_STATUS_ARRAY status{};

    // Throws the error in `status` with the client's own messages.
    [[noreturn]] void fail() {
        std::string message;
        const ISC_STATUS *p = status;
        char buf[1024];
        while (api->interpret(buf, sizeof buf, &p) > 0) {
            if (!message.empty())
                message += "\n";
            message += buf;
        }
        long code = api->sqlcode(status);
        if (isConnectionLost(status))
            throw ConnectionLostError(message, code);
        throw DbError(message.empty() ? "Firebird error" : message, code);
    }
    void check(ISC_STATUS rc) {
        if (rc && status[0] == 1 && status[1])
            fail();
    }
};

FirebirdConnection::FirebirdConnection(DriverLink &link) : Connection(link), impl_(std::make_unique<Impl>()) {}

FirebirdConnection::~FirebirdConnection() {
    try {
        DoDisconnect();
    } catch (...) {
    }
}

void FirebirdConnection::DoConnect(const std::string &library) {
    impl_->api = std::make_unique<FbApi>(ClientLibrary::Load(library));
    const std::string database = Params.Value("Database");
    if (database.empty())
        throw DbError("Database parameter is empty");

    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    auto add = [&](char tag, const std::string &value) {
        if (value.size() > 255)
            throw DbError("Connection parameter too long");
        dpb += tag;
        dpb += static_cast<char>(value.size());
        dpb += value;
    };
    if (auto user = Params.Value("User_Name"); !user.empty())
        add(isc_dpb_user_name, user);
    if (auto password = Params.Value("Password"); !password.empty())
        add(isc_dpb_password, password);
    auto charset = Params.Value("CharacterSet");
    add(isc_dpb_lc_ctype, charset.empty() ? "UTF8" : charset);

    if (database.size() > 32767)
        throw DbError("Database path too long");
    isc_db_handle db = 0;
    impl_->check(impl_->api->attach(impl_->status, static_cast<short>(database.size()), database.c_str(), &db,
                                    static_cast<short>(dpb.size()), dpb.data()));
    impl_->db = db;
}

void FirebirdConnection::DoDisconnect() {
    if (!impl_->api)
        return;
    if (impl_->tr) {
        impl_->api->rollback(impl_->status, &impl_->tr);
        impl_->tr = 0;
    }
    if (impl_->db) {
        impl_->api->detach(impl_->status, &impl_->db);
        impl_->db = 0; // a lost connection cannot be detached cleanly; the handle is gone either way
    }
}

bool FirebirdConnection::DoConnected() const {
    return impl_->db != 0;
}

void FirebirdConnection::DoStartTransaction() {
    if (impl_->tr)
        throw DbError("A transaction is already active");
    static char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait};
    impl_->check(impl_->api->start(impl_->status, &impl_->tr, 1, &impl_->db, static_cast<short>(sizeof tpb), tpb));
}

void FirebirdConnection::DoCommit() {
    if (!impl_->tr)
        throw DbError("No active transaction");
    impl_->check(impl_->api->commit(impl_->status, &impl_->tr));
}

void FirebirdConnection::DoRollback() {
    if (!impl_->tr)
        throw DbError("No active transaction");
    impl_->check(impl_->api->rollback(impl_->status, &impl_->tr));
}

bool FirebirdConnection::DoInTransaction() const {
    return impl_->tr != 0;
}

std::vector<Row> FirebirdConnection::DoExecute(const std::string &sql) {
    Impl &m = *impl_;
    const bool own = m.tr == 0;
    if (own)
        DoStartTransaction();
    isc_stmt_handle stmt = 0;
    auto cleanup = [&] {
        ISC_STATUS_ARRAY ignored;
        if (stmt)
            m.api->freeStatement(ignored, &stmt, DSQL_drop);
        if (own && m.tr) {
            m.api->rollback(ignored, &m.tr);
            m.tr = 0; // even when the rollback failed: the transaction is over for us
        }
    };
    try {
        m.check(m.api->allocate(m.status, &m.db, &stmt));
        Sqlda out(1);
        if (sql.size() > 65535)
            throw DbError("Statement too long");
        m.check(m.api->prepare(m.status, &m.tr, &stmt, static_cast<unsigned short>(sql.size()), sql.c_str(),
                               SQL_DIALECT_V6, out.da()));
        const short columns = out.da()->sqld;
        Sqlda rows(columns);
        if (columns > 0) {
            m.check(m.api->describe(m.status, &stmt, SQLDA_VERSION1, rows.da()));
            rows.allocate();
        }
        m.check(m.api->execute(m.status, &m.tr, &stmt, SQLDA_VERSION1, nullptr));
        std::vector<Row> result;
        if (columns > 0) {
            for (;;) {
                ISC_STATUS rc = m.api->fetch(m.status, &stmt, SQLDA_VERSION1, rows.da());
                if (rc == 100)
                    break;
                m.check(rc);
                result.push_back(rows.row());
            }
        }
        m.check(m.api->freeStatement(m.status, &stmt, DSQL_drop));
        stmt = 0;
        if (own)
            m.check(m.api->commit(m.status, &m.tr));
        return result;
    } catch (...) {
        cleanup();
        throw;
    }
}

} // namespace db
