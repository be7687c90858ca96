#include "ds_server.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <random>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

namespace datasnap {

namespace {

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

// ---- metadata ----

std::size_t MethodInfo::inputCount() const {
    return static_cast<std::size_t>(std::count_if(params.begin(), params.end(), [](const ParamInfo &p) {
        return p.direction == Direction::In || p.direction == Direction::InOut;
    }));
}

const ParamInfo *MethodInfo::returnParam() const {
    for (const auto &p : params)
        if (p.direction == Direction::Return)
            return &p;
    return nullptr;
}

std::vector<const ParamInfo *> MethodInfo::inputs() const {
    std::vector<const ParamInfo *> r;
    for (const auto &p : params)
        if (p.direction == Direction::In || p.direction == Direction::InOut)
            r.push_back(&p);
    return r;
}

const MethodInfo *ClassInfo::findMethod(std::string_view method) const {
    for (const auto &m : methods)
        if (equalNoCase(m.name, method))
            return &m;
    return nullptr;
}

std::string stringArg(const json::Value &v) {
    switch (v.kind) {
    case json::Value::Kind::Null:
        return {};
    case json::Value::Kind::String:
        return v.text;
    default:
        throw ArgumentError("A text parameter received a value that is not a text");
    }
}

const json::Value *jsonArg(const json::Value &v) {
    return v.isNull() ? nullptr : &v;
}

// ---- server class entry ----

ServerClass::ServerClass(Server &server) : server_(&server) {
    server.attach(this);
}
ServerClass::~ServerClass() {
    server_->detach(this);
}

// ---- authentication ----

bool AuthenticationManager::authenticate(const std::string &protocol, const std::string &context,
                                         const std::string &user, const std::string &password,
                                         std::vector<std::string> &userRoles) {
    bool valid = true;
    if (OnUserAuthenticate)
        OnUserAuthenticate(*this, protocol, context, user, password, valid, userRoles);
    return valid;
}

bool AuthenticationManager::authorize(const AuthorizeEventObject &call) {
    bool valid = true;
    if (OnUserAuthorize)
        OnUserAuthorize(*this, call, valid);
    return valid;
}

// ---- sessions ----

Session::Session(std::string id, std::string protocol) : id_(std::move(id)), protocol_(std::move(protocol)) {}

Session::~Session() = default;

std::shared_ptr<void> Session::instance(const ClassInfo &cls) {
    std::lock_guard<std::mutex> g(lock_);
    if (closed_)
        throw Error("The session has ended");
    for (auto &[c, inst] : instances_)
        if (c == &cls)
            return inst;
    std::shared_ptr<void> inst = cls.create ? cls.create() : nullptr;
    instances_.emplace_back(&cls, inst);
    return inst;
}

void Session::close() {
    std::vector<std::pair<const ClassInfo *, std::shared_ptr<void>>> gone;
    {
        std::lock_guard<std::mutex> g(lock_);
        closed_ = true;
        gone.swap(instances_);
    }
    // instances are destroyed here, outside the lock
}

std::string generateSessionId() {
    thread_local std::mt19937_64 rng{std::random_device{}()};
    std::uniform_int_distribution<unsigned> d(0, 999999);
    return std::to_string(d(rng)) + '.' + std::to_string(d(rng)) + '.' + std::to_string(d(rng));
}

// ---- transports ----

Transport::Transport(Server &server) : server_(&server) {
    server.attach(this);
}
Transport::~Transport() {
    server_->detach(this);
}

// ---- the server ----

// The io_context and its threads for one started period. A fresh context each
// Start, so nothing queued by an earlier period can run in a later one.
struct Server::Pool {
    boost::asio::io_context ioc;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard{ioc.get_executor()};
    std::vector<std::thread> threads;
    std::mutex lock;
    std::condition_variable idle;
    unsigned running = 0;

    void run(unsigned n) {
        running = n;
        for (unsigned i = 0; i < n; ++i)
            threads.emplace_back([this] {
                for (;;) {
                    try {
                        ioc.run();
                        break;
                    } catch (...) {
                        // a handler let an exception escape: keep serving the others
                    }
                }
                std::lock_guard<std::mutex> g(lock);
                --running;
                idle.notify_all();
            });
    }

    // Lets the pending work finish (the transports have closed everything),
    // forcing the end after a grace period.
    void finish() {
        guard.reset();
        if (threads.empty()) { // never ran (a failed Start): run what the stops queued
            ioc.run_for(std::chrono::seconds(10));
            ioc.stop();
            return;
        }
        {
            std::unique_lock<std::mutex> g(lock);
            if (!idle.wait_for(g, std::chrono::seconds(10), [this] { return running == 0; }))
                ioc.stop();
        }
        for (auto &t : threads)
            if (t.joinable())
                t.join();
    }
};

Server::Server() : admin_(makeDSAdminClass(*this)) {}

Server::~Server() {
    Stop();
}

boost::asio::io_context &Server::ioContext() {
    if (!pool_)
        pool_ = std::make_unique<Pool>();
    return pool_->ioc;
}

void Server::Loaded() {
    if (AutoStart)
        Start();
}

void Server::Start() {
    if (started_)
        return;
    resolveClasses();
    pool_ = std::make_unique<Pool>();
    try {
        for (Transport *t : transports_)
            t->start();
    } catch (...) {
        // the failing transport too: it may have half started
        for (auto it = transports_.rbegin(); it != transports_.rend(); ++it) {
            try {
                (*it)->stop();
            } catch (...) {
            }
        }
        pool_->finish();
        pool_.reset();
        throw;
    }
    pool_->run(std::max(1u, PoolSize));
    started_ = true;
}

void Server::Stop() {
    if (!started_)
        return;
    for (Transport *t : transports_) {
        try {
            t->stop();
        } catch (...) {
        }
    }
    pool_->finish();
    pool_.reset();
    {
        std::lock_guard<std::mutex> g(publishedLock_);
        serverInstances_.clear();
    }
    started_ = false;
}

void Server::attach(Transport *t) {
    transports_.push_back(t);
}
void Server::detach(Transport *t) {
    std::erase(transports_, t);
}
void Server::attach(ServerClass *c) {
    classes_.push_back(c);
    resolved_ = false;
}
void Server::detach(ServerClass *c) {
    std::erase(classes_, c);
    std::lock_guard<std::mutex> g(publishedLock_);
    resolved_ = false;
    published_.clear();
}

void Server::resolveClasses() {
    std::lock_guard<std::mutex> g(publishedLock_);
    std::vector<Published> list;
    if (!HideDSAdmin)
        list.push_back({admin_.get(), LifeCycle::Server});
    for (ServerClass *c : classes_) {
        const ClassInfo *cls = nullptr;
        if (c->OnGetClass)
            c->OnGetClass(*c, cls);
        if (cls)
            list.push_back({cls, c->LifeCycle});
    }
    published_ = std::move(list);
    resolved_ = true;
}

std::vector<Server::Published> Server::publishedClasses() {
    if (!resolved_)
        resolveClasses();
    return published_;
}

Server::Found Server::findMethod(std::string_view className, std::string_view methodName) {
    if (!resolved_)
        resolveClasses();
    for (const auto &p : published_)
        if (equalNoCase(p.cls->name, className)) {
            Found f;
            f.cls = p.cls;
            f.lifeCycle = p.lifeCycle;
            f.method = p.cls->findMethod(methodName);
            if (f.method)
                return f;
        }
    return {};
}

Server::Found Server::findMethod(std::string_view qualifiedName) {
    auto dot = qualifiedName.find('.');
    if (dot == std::string_view::npos)
        return {};
    return findMethod(qualifiedName.substr(0, dot), qualifiedName.substr(dot + 1));
}

std::shared_ptr<void> Server::serverInstance(const ClassInfo &cls) {
    std::lock_guard<std::mutex> g(publishedLock_);
    for (auto &[c, inst] : serverInstances_)
        if (c == &cls)
            return inst;
    std::shared_ptr<void> inst = cls.create ? cls.create() : nullptr;
    serverInstances_.emplace_back(&cls, inst);
    return inst;
}

std::vector<json::Value> Server::invoke(Session &session, const Found &target, std::vector<json::Value> inputs) {
    if (!target)
        throw MethodNotFound("method not found in the server method list");
    const MethodInfo &m = *target.method;
    if (inputs.size() != m.inputCount())
        throw ArgumentError("Server method " + target.cls->name + "." + m.name + " expects " +
                            std::to_string(m.inputCount()) + " input parameters, received " +
                            std::to_string(inputs.size()));
    if (session.authManager) {
        AuthorizeEventObject call{target.cls->name + "." + m.name, session.userName, session.userRoles};
        if (!session.authManager->authorize(call))
            throw NotAuthorized("User " + session.userName + " is not authorized to perform the requested action");
    }
    std::lock_guard<std::mutex> g(session.callLock());
    std::shared_ptr<void> self;
    switch (target.lifeCycle) {
    case LifeCycle::Session:
        self = session.instance(*target.cls);
        break;
    case LifeCycle::Server:
        self = serverInstance(*target.cls);
        break;
    case LifeCycle::Invocation:
        if (target.cls->create)
            self = target.cls->create();
        break;
    }
    return m.call(self.get(), inputs);
}

std::vector<json::Value> Server::invoke(Session &session, std::string_view className, std::string_view methodName,
                                        std::vector<json::Value> inputs) {
    Found f = findMethod(className, methodName);
    if (!f)
        throw MethodNotFound(std::string(className) + "." + std::string(methodName) +
                             " method not found in the server method list");
    return invoke(session, f, std::move(inputs));
}

} // namespace datasnap
