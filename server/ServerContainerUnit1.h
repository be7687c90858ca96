#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ServerMethodsUnit1.h"
#include "ds_server.h"
#include "http_service.h"
#if __has_include("tcp_transport.h")
#include "tcp_transport.h"
#define CORVANE_HAS_TCP_TRANSPORT 1
#endif

// The server container: the DataSnap server, its TCP/IP transport (filters
// "PC1" and "ZLibCompression", authenticated), its HTTP/REST service
// (unauthenticated), the authentication manager and the server class entry
// that publishes TServerMethods1. Its creator hands it the source of the
// current Settings record and the page printer, both owned by the main window
// object. The server is created stopped.
class TServerContainer1 {
public:
    TServerContainer1(TServerMethods1::SettingsSource settings, TServerMethods1::PagePrinter imprime);
    ~TServerContainer1(); // stops the server when it is started
    TServerContainer1(const TServerContainer1 &) = delete;
    TServerContainer1 &operator=(const TServerContainer1 &) = delete;

    // The components, in the order they are created.
    datasnap::Server DSServer1;
#ifdef CORVANE_HAS_TCP_TRANSPORT
    datasnap::TcpServerTransport DSTCPServerTransport1{DSServer1};
#else
    // The TCP transport's settings until its listener joins (tcp_transport.h).
    struct {
        int Port = 211;
        int PoolSize = 10;
        int MaxThreads = 0;
        datasnap::AuthenticationManager *AuthenticationManager = nullptr;
    } DSTCPServerTransport1;
#endif
    datasnap::AuthenticationManager DSAuthenticationManager1;
    datasnap::ServerClass DSServerClass1{DSServer1};
    datasnap::HttpService DSHTTPService1{DSServer1};

    // Event handlers.
    void DSServerClass1GetClass(datasnap::ServerClass &DSServerClass, const datasnap::ClassInfo *&PersistentClass);
    void DSAuthenticationManager1UserAuthenticate(datasnap::AuthenticationManager &Sender, const std::string &Protocol,
                                                  const std::string &Context, const std::string &User,
                                                  const std::string &Password, bool &valid,
                                                  std::vector<std::string> &UserRoles);
    void DSAuthenticationManager1UserAuthorize(datasnap::AuthenticationManager &Sender,
                                               const datasnap::AuthorizeEventObject &EventObject, bool &valid);

    // The published description of TServerMethods1: its two methods with their
    // parameters, and instances made with this container's settings source and
    // page printer.
    const datasnap::ClassInfo &TServerMethods1Class() const { return TServerMethods1Class_; }

private:
    TServerMethods1::SettingsSource settings_;
    TServerMethods1::PagePrinter imprime_;
    datasnap::ClassInfo TServerMethods1Class_;
};
