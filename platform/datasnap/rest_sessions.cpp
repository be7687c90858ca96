#include "rest_sessions.h"

#include <charconv>
#include <vector>

namespace datasnap::rest {

namespace {

void endAll(std::vector<std::shared_ptr<Session>> &gone) {
    for (auto &s : gone)
        s->close();
    gone.clear();
}

} // namespace

SessionStore::SessionStore(std::size_t maxSessions, std::chrono::milliseconds timeout)
    : max_(maxSessions ? maxSessions : 1), timeout_(timeout) {}

SessionStore::~SessionStore() {
    closeAll();
}

// A token is three numbers below 1,000,000; packed into one integer key so
// that an idle session costs no string in the index.
bool SessionStore::keyOf(const std::string &id, std::uint64_t &key) {
    std::uint64_t parts[3];
    const char *p = id.data();
    const char *end = id.data() + id.size();
    for (int k = 0; k < 3; ++k) {
        if (p == end || *p < '0' || *p > '9')
            return false;
        auto [q, ec] = std::from_chars(p, end, parts[k]);
        if (ec != std::errc() || parts[k] > 999999 || q - p > 6)
            return false;
        p = q;
        if (k < 2) {
            if (p == end || *p != '.')
                return false;
            ++p;
        }
    }
    if (p != end)
        return false;
    key = (parts[0] * 1000000 + parts[1]) * 1000000 + parts[2];
    return true;
}

bool SessionStore::expired(const Entry &e, Clock::time_point t) const {
    return timeout_.count() > 0 && t - e.last >= timeout_;
}

void SessionStore::takeExpired(Clock::time_point t, std::vector<std::shared_ptr<Session>> &out) {
    while (!lru_.empty() && expired(lru_.back(), t)) {
        byKey_.erase(lru_.back().key);
        out.push_back(std::move(lru_.back().session));
        lru_.pop_back();
    }
}

std::shared_ptr<Session> SessionStore::create() {
    std::vector<std::shared_ptr<Session>> gone;
    std::shared_ptr<Session> s;
    {
        std::lock_guard<std::mutex> g(lock_);
        auto t = now();
        takeExpired(t, gone);
        while (lru_.size() >= max_) {
            byKey_.erase(lru_.back().key);
            gone.push_back(std::move(lru_.back().session));
            lru_.pop_back();
        }
        std::string id;
        std::uint64_t key = 0;
        do {
            id = generateSessionId();
            keyOf(id, key);
        } while (byKey_.count(key));
        s = std::make_shared<Session>(std::move(id), "http");
        lru_.push_front(Entry{s, key, t});
        byKey_.emplace(key, lru_.begin());
    }
    endAll(gone);
    return s;
}

std::shared_ptr<Session> SessionStore::find(const std::string &id) {
    std::uint64_t key;
    if (!keyOf(id, key))
        return nullptr;
    std::vector<std::shared_ptr<Session>> gone;
    std::shared_ptr<Session> s;
    {
        std::lock_guard<std::mutex> g(lock_);
        auto it = byKey_.find(key);
        if (it == byKey_.end())
            return nullptr;
        auto t = now();
        if (expired(*it->second, t)) {
            gone.push_back(std::move(it->second->session));
            lru_.erase(it->second);
            byKey_.erase(it);
        } else {
            it->second->last = t;
            lru_.splice(lru_.begin(), lru_, it->second);
            s = it->second->session;
        }
    }
    endAll(gone);
    return s;
}

bool SessionStore::close(const std::string &id) {
    std::uint64_t key;
    if (!keyOf(id, key))
        return false;
    std::shared_ptr<Session> s;
    {
        std::lock_guard<std::mutex> g(lock_);
        auto it = byKey_.find(key);
        if (it == byKey_.end())
            return false;
        s = std::move(it->second->session);
        lru_.erase(it->second);
        byKey_.erase(it);
    }
    s->close();
    return true;
}

void SessionStore::closeAll() {
    std::vector<std::shared_ptr<Session>> gone;
    {
        std::lock_guard<std::mutex> g(lock_);
        for (auto &e : lru_)
            gone.push_back(std::move(e.session));
        lru_.clear();
        byKey_.clear();
    }
    endAll(gone);
}

std::size_t SessionStore::sweep() {
    std::vector<std::shared_ptr<Session>> gone;
    {
        std::lock_guard<std::mutex> g(lock_);
        takeExpired(now(), gone);
    }
    std::size_t n = gone.size();
    endAll(gone);
    return n;
}

std::size_t SessionStore::size() const {
    std::lock_guard<std::mutex> g(lock_);
    return lru_.size();
}

} // namespace datasnap::rest
