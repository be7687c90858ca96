#include "db_connection.h"

#include <charconv>

namespace db {

int64_t FieldValue::AsInteger() const {
    if (!Text)
        throw DbError("Field " + Name + " is NULL");
    int64_t v = 0;
    const char *b = Text->data(), *e = b + Text->size();
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e)
        throw DbError("Field " + Name + " is not an integer: " + *Text);
    return v;
}

void Connection::Open() {
    if (DoConnected())
        return;
    if (BeforeConnect)
        BeforeConnect();
    const std::string library = link_.VendorLib.empty() ? DefaultLibrary() : link_.VendorLib;
    DoConnect(library);
    loaded_ = library;
    if (AfterConnect) {
        try {
            AfterConnect();
        } catch (...) {
            DoDisconnect(); // a connection whose set-up failed is not left open
            throw;
        }
    }
}

void Connection::Close() {
    if (DoConnected())
        DoDisconnect();
}

bool Connection::Connected() const {
    return DoConnected();
}

void Connection::Reconnect() {
    DoDisconnect();
    DoConnect(loaded_);
}

template <class Op> auto Connection::Recovering(Op op) -> decltype(op()) {
    for (int attempt = 0;; ++attempt) {
        try {
            return op();
        } catch (const ConnectionLostError &e) {
            if (attempt >= kMaxRetries || !OnRecover || OnRecover(e) != RecoverAction::Retry)
                throw;
        }
        Reconnect();
    }
}

void Connection::StartTransaction() {
    if (!DoConnected())
        throw DbError("Connection is closed");
    Recovering([&] { DoStartTransaction(); });
}

void Connection::Commit() {
    if (!DoConnected())
        throw DbError("Connection is closed");
    DoCommit(); // a commit is not retried: the transaction went with the connection
    if (AfterCommit)
        AfterCommit();
}

void Connection::Rollback() {
    if (!DoConnected())
        throw DbError("Connection is closed");
    DoRollback();
}

bool Connection::InTransaction() const {
    return DoConnected() && DoInTransaction();
}

std::vector<Row> Connection::Execute(const std::string &sql) {
    if (!DoConnected())
        throw DbError("Connection is closed");
    // Inside a transaction a lost connection took the transaction with it, so
    // only a statement that runs on its own is run again.
    if (DoInTransaction())
        return DoExecute(sql);
    return Recovering([&] { return DoExecute(sql); });
}

void Query::Open() {
    std::string text;
    for (size_t i = 0; i < SQL.size(); ++i) {
        if (i)
            text += '\n';
        text += SQL[i];
    }
    rows_ = connection_.Execute(text);
    active_ = true;
}

void Query::Close() {
    rows_.clear();
    active_ = false;
}

const FieldValue &Query::FieldByName(const std::string &name) const {
    if (!active_)
        throw DbError("Query is closed");
    if (rows_.empty())
        throw DbError("Query returned no row");
    auto upper = [](std::string s) {
        for (char &c : s)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 32);
        return s;
    };
    for (const auto &f : rows_.front())
        if (upper(f.Name) == upper(name))
            return f;
    throw DbError("Field '" + name + "' not found");
}

} // namespace db
