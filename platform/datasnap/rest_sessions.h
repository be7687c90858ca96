#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "ds_server.h"

namespace datasnap::rest {

// The HTTP service's sessions by token, with the idle timeout and a cap on
// their number: when the cap is reached the session idle the longest ends
// first. Ending a session frees its instances.
class SessionStore {
public:
    using Clock = std::chrono::steady_clock;

    SessionStore(std::size_t maxSessions, std::chrono::milliseconds timeout);
    ~SessionStore();

    // A new session with a fresh "N.N.N" token.
    std::shared_ptr<Session> create();
    // The live session of `id`, its idle time reset; null when unknown,
    // closed or idle for the timeout or longer (such a session ends now).
    std::shared_ptr<Session> find(const std::string &id);
    // Ends the session of `id`; false when there is none.
    bool close(const std::string &id);
    void closeAll();
    // Ends the sessions idle for the timeout; returns how many.
    std::size_t sweep();
    std::size_t size() const;

    std::chrono::milliseconds timeout() const { return timeout_; }
    std::size_t maxSessions() const { return max_; }
    // For tests: the time source.
    std::function<Clock::time_point()> now = [] { return Clock::now(); };

private:
    struct Entry {
        std::shared_ptr<Session> session;
        std::uint64_t key;
        Clock::time_point last;
    };
    static bool keyOf(const std::string &id, std::uint64_t &key);
    bool expired(const Entry &e, Clock::time_point t) const;
    // Under lock_: unlinks expired entries from the idle end into `out`.
    void takeExpired(Clock::time_point t, std::vector<std::shared_ptr<Session>> &out);

    std::size_t max_;
    std::chrono::milliseconds timeout_;
    mutable std::mutex lock_;
    std::list<Entry> lru_; // most recently used first
    std::unordered_map<std::uint64_t, std::list<Entry>::iterator> byKey_;
};

} // namespace datasnap::rest
