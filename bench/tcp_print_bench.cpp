// Calls of print_texto to /dev/null over the TCP transport (1 and 32
// connections) and, for comparison, over the REST service; and the server's
// memory with 1,000 idle TCP connections. The server runs in a child process
// so that its memory is measured alone.
//
//   bench_tcp_print                 the benchmarks
//   bench_tcp_print --dump-session  hex dump of one session's handshake and first call
//   bench_tcp_print --serve N       only run the server for N seconds (to try a client against it)
#include <benchmark/benchmark.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ServerContainerUnit1.h"
#include "dbx_print_client.h"

namespace {

pid_t serverPid = 0;
std::uint16_t tcpPort = 0, httpPort = 0;
const std::string kPayload = datasnap::encodePrintPayload("Cupom 123\nItem 1  2 x 3,50 = 7,00\nTotal 7,00\n");

// The child: a container printing to /dev/null on free loopback ports.
[[noreturn]] void runServer(int out) {
    TSettings settings;
    settings.Usuario = "USER";
    settings.Senha = "PASS";
    settings.op_impr = "1";
    settings.vimpressora = "/dev/null";
    settings.condensa = "N";
    settings.corta = "N";
    auto snapshot = std::make_shared<const TSettings>(settings);
    TServerContainer1 c([snapshot] { return snapshot; }, [](const std::string &, std::string &) { return true; });
    c.DSTCPServerTransport1.Port = 0;
    c.DSTCPServerTransport1.BindAddress = "127.0.0.1";
    c.DSHTTPService1.HttpPort = 0;
    c.DSHTTPService1.BindAddress = "127.0.0.1";
    c.DSServer1.Start();
    std::uint16_t ports[2] = {c.DSTCPServerTransport1.localPort(), c.DSHTTPService1.listeningPort()};
    if (write(out, ports, sizeof ports) != sizeof ports)
        _exit(1);
    close(out);
    for (;;)
        pause();
}

long serverRssKiB() {
    std::ifstream in("/proc/" + std::to_string(serverPid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

datasnap::DbxClientOptions options() {
    datasnap::DbxClientOptions o;
    o.port = tcpPort;
    o.user = "USER";
    o.password = "PASS";
    o.filters = {datasnap::TransportFilter::zlib(1024), datasnap::TransportFilter::pc1("mKpRuTqWbNcZxJvL")};
    return o;
}

void BM_TcpPrintTexto(benchmark::State &state) {
    datasnap::DbxClient client(options());
    client.open();
    for (auto _ : state) {
        std::string r = datasnap::tcpPrint(client, "USER", "PASS", kPayload, false);
        if (r != "Realizada com sucesso.") {
            state.SkipWithError(r.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TcpPrintTexto)->Threads(1)->Threads(32)->UseRealTime();

// The same call over REST on a kept-alive HTTP connection.
void BM_RestPrintTexto(benchmark::State &state) {
    namespace beast = boost::beast;
    namespace http = beast::http;
    boost::asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    stream.connect({boost::asio::ip::make_address("127.0.0.1"), httpPort});
    std::string target = "/datasnap/rest/TServerMethods1/print_texto/USER/PASS/" + datasnap::uriComponent(kPayload) + "/";
    beast::flat_buffer buffer;
    for (auto _ : state) {
        http::request<http::empty_body> req(http::verb::get, target, 11);
        req.set(http::field::host, "127.0.0.1");
        http::write(stream, req);
        http::response<http::string_body> res;
        http::read(stream, buffer, res);
        if (res.body() != R"({"result":["Realizada com sucesso."]})") {
            state.SkipWithError(res.body().c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RestPrintTexto)->Threads(1)->Threads(32)->UseRealTime();

// Server memory per idle connection: each of the 1,000 has done the handshake
// and connect, and holds its session.
void BM_IdleConnectionsMemory(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        long before = serverRssKiB();
        std::vector<std::unique_ptr<datasnap::DbxClient>> clients;
        for (int i = 0; i < n; ++i) {
            clients.push_back(std::make_unique<datasnap::DbxClient>(options()));
            clients.back()->open();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        long after = serverRssKiB();
        state.counters["server_rss_before_KiB"] = static_cast<double>(before);
        state.counters["server_rss_after_KiB"] = static_cast<double>(after);
        state.counters["KiB_per_connection"] = static_cast<double>(after - before) / n;
        for (auto &c : clients)
            c->close();
    }
}
BENCHMARK(BM_IdleConnectionsMemory)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

void hexdump(bool out, std::string_view bytes) {
    std::printf("%s %zu bytes\n", out ? "C->S" : "S->C", bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 16) {
        std::printf("  %04zx ", i);
        for (std::size_t j = i; j < i + 16; ++j)
            j < bytes.size() ? std::printf(" %02X", static_cast<unsigned char>(bytes[j])) : std::printf("   ");
        std::printf("  ");
        for (std::size_t j = i; j < i + 16 && j < bytes.size(); ++j) {
            unsigned char c = static_cast<unsigned char>(bytes[j]);
            std::putchar(c >= 0x20 && c < 0x7F ? c : '.');
        }
        std::putchar('\n');
    }
}

int dumpSession() {
    auto o = options();
    o.onWire = hexdump;
    datasnap::DbxClient client(o);
    client.open();
    std::printf("-- print_texto\n");
    std::printf("result: %s\n", datasnap::tcpPrint(client, "USER", "PASS", "YWJj", false).c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
    int fds[2];
    if (pipe(fds) != 0)
        return 1;
    serverPid = fork();
    if (serverPid == 0) {
        close(fds[0]);
        runServer(fds[1]);
    }
    close(fds[1]);
    std::uint16_t ports[2];
    if (read(fds[0], ports, sizeof ports) != sizeof ports) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    tcpPort = ports[0];
    httpPort = ports[1];
    std::printf("server pid %d, TCP port %u, HTTP port %u\n", serverPid, tcpPort, httpPort);

    int rc = 0;
    if (argc > 1 && std::strcmp(argv[1], "--dump-session") == 0) {
        rc = dumpSession();
    } else if (argc > 2 && std::strcmp(argv[1], "--serve") == 0) {
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[2])));
    } else {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    kill(serverPid, SIGTERM);
    waitpid(serverPid, nullptr, 0);
    return rc;
}
