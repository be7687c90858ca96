#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace db {

// A failure of the database layer: a client library that cannot be loaded, a
// refused connection, a failing statement. `code` is the client's own error
// code when it gave one (Firebird's SQL code, MySQL's error number), else 0.
class DbError : public std::runtime_error {
public:
    explicit DbError(const std::string &message, long code = 0) : std::runtime_error(message), code_(code) {}
    long code() const { return code_; }

private:
    long code_;
};

// The connection to the server was lost (as opposed to a failing statement).
class ConnectionLostError : public DbError {
public:
    using DbError::DbError;
};

// A connection's parameters as "Name=Value" lines in their own order. Lines
// are read by name without regard to ASCII letter case; a line whose name does
// not match exactly (a "USER NAME" where "User_Name" is meant) is simply
// another parameter.
class ParamList {
public:
    ParamList() = default;
    ParamList(std::initializer_list<std::string> lines) : lines_(lines) {}

    size_t Count() const { return lines_.size(); }
    const std::string &operator[](size_t index) const { return lines_.at(index); }
    std::string &operator[](size_t index) { return lines_.at(index); }
    void Add(const std::string &line) { lines_.push_back(line); }
    void Clear() { lines_.clear(); }
    const std::vector<std::string> &Lines() const { return lines_; }

    // The value of the first line named `name`, or empty.
    std::string Value(const std::string &name) const;

private:
    std::vector<std::string> lines_;
};

} // namespace db
