#pragma once

// A small DataSnap-style server: published classes with typed methods, client
// sessions, an authentication manager, and transports that carry calls to them.
//
// How a transport uses it:
//  * Derive from `Transport` and construct it with the `Server` it serves; that
//    attaches it (transports start in the order they were attached).
//  * `start()` runs on the caller's thread inside `Server::Start`: bind and listen
//    synchronously (throw `TransportError` when that fails, the server then rolls
//    back), then begin accepting on `server().ioContext()`, the one shared
//    `boost::asio::io_context` whose thread pool the server runs while started.
//    `stop()` closes the listener and every connection and ends the transport's
//    sessions; it is called on a stopped transport too and must then do nothing.
//  * Per client session, make a `Session` (`std::make_shared<Session>(id, "tcp")`).
//    Instances of "Session" classes live in it and are freed when the last
//    reference to it goes or `Session::close()` is called.
//  * To admit a client call `AuthenticationManager::authenticate` of the
//    manager the transport was given (none: everyone is admitted); store it in
//    `Session::authManager` so that `Server::invoke` authorizes each call.
//  * `Server::findMethod("TServerMethods1", "print_texto")` resolves a name
//    (case-insensitive) to the class and its `MethodInfo`: parameter names, DBX
//    data types, directions, the return value last. `Server::invoke` calls it
//    with one `json::Value` per input parameter (strings as String, null for an
//    absent value) and returns the out values followed by the return value.
//    Errors are thrown: `MethodNotFound`, `ArgumentError`, `NotAuthorized`, or
//    whatever the method itself raises (any std::exception; its what() is the
//    message to show the client).
//  * Calls run on the pool's threads, several at once for different sessions;
//    calls of one session are serialised.
//
// The server container expects the TCP transport as `datasnap::TcpServerTransport`
// (tcp_transport.h), constructed from the `Server`, with public members `Port`
// (int, default 211, the listener takes its low 16 bits), `PoolSize` (10),
// `MaxThreads` (0), `AuthenticationManager` (pointer, may be null) and its
// filter list ("PC1" with Key, then "ZLibCompression" with CompressMoreThan).
// The HTTP/REST transport is `HttpService` (http_service.h).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "json_value.h"

namespace boost::asio {
class io_context;
}

namespace datasnap {

class Server;
class Session;
class AuthenticationManager;

// ---- errors ----

// Base of the errors this layer raises.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// "<Class>.<Method> method not found in the server method list"
struct MethodNotFound : Error {
    using Error::Error;
};
// An argument that does not fit the parameter's type, or a wrong count.
struct ArgumentError : Error {
    using Error::Error;
};
// The authorize event refused the call.
struct NotAuthorized : Error {
    using Error::Error;
};
// A transport could not start (the port is in use, an address is invalid, ...).
struct TransportError : Error {
    TransportError(const std::string &message, int code = 0) : Error(message), code(code) {}
    int code; // errno-style code of the underlying failure, 0 when none
};

// ---- method metadata ----

// DBX data type numbers, as the TCP protocol puts them on the wire.
enum class DataType : int {
    Boolean = 4,
    Int32 = 6,
    WideString = 26,
    JsonValue = 37,
};

enum class Direction : int { In = 1, Out = 2, InOut = 3, Return = 4 };

struct ParamInfo {
    std::string name; // the declared name; "ReturnParameter" for the result
    DataType type = DataType::WideString;
    Direction direction = Direction::In;
};

// One published method. `params` are in declaration order with the return value
// last. `call` receives the class instance (null for classes without one) and one
// value per In/InOut parameter, and returns the Out/InOut values in order
// followed by the return value.
struct MethodInfo {
    using Invoker = std::function<std::vector<json::Value>(void *self, std::vector<json::Value> &inputs)>;

    std::string name;
    std::vector<ParamInfo> params;
    Invoker call;

    std::size_t inputCount() const;
    const ParamInfo *returnParam() const;
    // The In/InOut parameters in order.
    std::vector<const ParamInfo *> inputs() const;
};

enum class LifeCycle {
    Session,    // one instance per session, created on first need
    Server,     // one instance for the whole server, created on first need
    Invocation, // a new instance for every call
};

// A published class: its name, how to make an instance and its methods (the
// stand-in for a class reference with its run-time type information).
struct ClassInfo {
    std::string name;
    std::function<std::shared_ptr<void>()> create; // may be empty: methods get null
    std::vector<MethodInfo> methods;

    // Case-insensitive lookup.
    const MethodInfo *findMethod(std::string_view method) const;
};

// Builds an invoker for methods of T from a callable (T &self, inputs) -> outputs.
template <class T, class F> MethodInfo::Invoker bindMethod(F f) {
    return [f = std::move(f)](void *self, std::vector<json::Value> &in) -> std::vector<json::Value> {
        return f(*static_cast<T *>(self), in);
    };
}

// Argument helpers for invokers. A string parameter takes a String or null
// (null gives ""); anything else raises ArgumentError.
std::string stringArg(const json::Value &v);
// A JSON parameter: null gives nullptr.
const json::Value *jsonArg(const json::Value &v);

// ---- server class entry ----

// Publishes one class on a server. `OnGetClass` supplies the class when the
// server starts; the entry's `LifeCycle` decides how instances are kept.
class ServerClass {
public:
    using GetClassEvent = std::function<void(ServerClass &DSServerClass, const ClassInfo *&PersistentClass)>;

    explicit ServerClass(Server &server);
    ~ServerClass();
    ServerClass(const ServerClass &) = delete;
    ServerClass &operator=(const ServerClass &) = delete;

    GetClassEvent OnGetClass;
    datasnap::LifeCycle LifeCycle = datasnap::LifeCycle::Session;

    Server &server() const { return *server_; }

private:
    Server *server_;
};

// ---- authentication ----

// The call being authorized.
struct AuthorizeEventObject {
    std::string methodAlias; // "Class.Method" as published
    std::string userName;
    std::vector<std::string> userRoles;
};

// Admits clients (authenticate, on connect) and their calls (authorize).
// Without a handler a client is admitted and a call allowed.
class AuthenticationManager {
public:
    using UserAuthenticateEvent = std::function<void(
        AuthenticationManager &Sender, const std::string &Protocol, const std::string &Context, const std::string &User,
        const std::string &Password, bool &valid, std::vector<std::string> &UserRoles)>;
    using UserAuthorizeEvent =
        std::function<void(AuthenticationManager &Sender, const AuthorizeEventObject &EventObject, bool &valid)>;

    UserAuthenticateEvent OnUserAuthenticate;
    UserAuthorizeEvent OnUserAuthorize;
    std::vector<std::string> Roles;

    bool authenticate(const std::string &protocol, const std::string &context, const std::string &user,
                      const std::string &password, std::vector<std::string> &userRoles);
    bool authorize(const AuthorizeEventObject &call);
};

// ---- sessions ----

// One client session: a TCP connection or an HTTP session token. Holds the
// instances of "Session" classes, created on first need and freed with it.
class Session {
public:
    Session(std::string id, std::string protocol);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    const std::string &id() const { return id_; }
    const std::string &protocol() const { return protocol_; }

    // Set by the transport when it admitted the client through a manager.
    AuthenticationManager *authManager = nullptr;
    std::string userName;
    std::vector<std::string> userRoles;

    // The session's instance of `cls`, created on first need.
    std::shared_ptr<void> instance(const ClassInfo &cls);
    // Frees the instances now (the session has ended).
    void close();
    bool closed() const { return closed_.load(); }

    // Held while a call of this session runs.
    std::mutex &callLock() { return callLock_; }

private:
    std::string id_;
    std::string protocol_;
    std::mutex lock_;
    std::mutex callLock_;
    std::atomic<bool> closed_{false};
    std::vector<std::pair<const ClassInfo *, std::shared_ptr<void>>> instances_;
};

// Three random numbers 0..999999 joined by dots, e.g. "962936.585703.822312".
std::string generateSessionId();

// ---- transports ----

// A listener that carries calls to a server (TCP, HTTP).
class Transport {
public:
    explicit Transport(Server &server);
    virtual ~Transport();
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;

    virtual void start() = 0;
    virtual void stop() = 0;

    Server &server() const { return *server_; }

private:
    Server *server_;
};

// ---- the server ----

// Start/Stop/Started, the attached transports and server classes, the shared
// io_context with its thread pool, and the method table they publish.
class Server {
public:
    Server();
    ~Server(); // stops the server if it runs
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    bool AutoStart = true; // start at the end of loading (`Loaded`)
    bool HideDSAdmin = false;
    unsigned PoolSize = 4; // threads that serve the transports while started

    // Starts every transport in attachment order; when one fails, stops those
    // started, stays stopped and raises its error. Nothing when started.
    void Start();
    // Stops every transport, then the thread pool. Nothing when stopped.
    void Stop();
    bool Started() const { return started_.load(); }
    // Called once the owner has set the properties: starts when AutoStart.
    void Loaded();

    boost::asio::io_context &ioContext();

    // The published classes (built-in DSAdmin first unless hidden), resolved
    // through the entries' OnGetClass at Start (or at the first lookup).
    struct Published {
        const ClassInfo *cls;
        datasnap::LifeCycle lifeCycle;
    };
    std::vector<Published> publishedClasses();

    struct Found {
        const ClassInfo *cls = nullptr;
        const MethodInfo *method = nullptr;
        datasnap::LifeCycle lifeCycle = datasnap::LifeCycle::Session;
        explicit operator bool() const { return method != nullptr; }
    };
    // Case-insensitive lookup of a class and method; empty when not found.
    Found findMethod(std::string_view className, std::string_view methodName);
    Found findMethod(std::string_view qualifiedName); // "Class.Method"

    // Authorizes (when the session has a manager), takes or makes the instance
    // and calls the method. `inputs` must hold one value per input parameter.
    std::vector<json::Value> invoke(Session &session, const Found &target, std::vector<json::Value> inputs);
    std::vector<json::Value> invoke(Session &session, std::string_view className, std::string_view methodName,
                                    std::vector<json::Value> inputs);

    // Used by Transport and ServerClass constructors/destructors.
    void attach(Transport *t);
    void detach(Transport *t);
    void attach(ServerClass *c);
    void detach(ServerClass *c);

private:
    struct Pool;
    void resolveClasses();
    std::shared_ptr<void> serverInstance(const ClassInfo &cls);

    std::atomic<bool> started_{false};
    std::vector<Transport *> transports_;
    std::vector<ServerClass *> classes_;
    std::unique_ptr<Pool> pool_;

    std::mutex publishedLock_;
    std::vector<Published> published_;
    std::atomic<bool> resolved_{false};
    std::vector<std::pair<const ClassInfo *, std::shared_ptr<void>>> serverInstances_;
    std::unique_ptr<ClassInfo> admin_;
};

// The built-in administrative class "DSAdmin" of `server`.
std::unique_ptr<ClassInfo> makeDSAdminClass(Server &server);

} // namespace datasnap
