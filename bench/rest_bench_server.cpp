// The server container with its HTTP service on a given loopback port (0: any
// free one), printing receipts to a given device (default /dev/null). Prints
// "PORT <n>" when it listens and runs until SIGINT or SIGTERM.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ServerContainerUnit1.h"

int main(int argc, char **argv) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr); // the pool's threads inherit this

    TSettings settings;
    settings.op_impr = "1";
    settings.vimpressora = argc > 2 ? argv[2] : "/dev/null";
    settings.condensa = "N";
    settings.corta = "N";
    auto record = std::make_shared<const TSettings>(settings);

    TServerContainer1 container([record] { return record; }, nullptr);
    container.DSHTTPService1.HttpPort = static_cast<std::uint16_t>(argc > 1 ? std::atoi(argv[1]) : 0);
    container.DSHTTPService1.BindAddress = "127.0.0.1";
    if (const char *threads = std::getenv("POOL_SIZE"))
        container.DSServer1.PoolSize = static_cast<unsigned>(std::atoi(threads));
    container.DSTCPServerTransport1.Port = 0;
    container.DSTCPServerTransport1.BindAddress = "127.0.0.1";
    container.DSServer1.Start();
    std::printf("PORT %u\n", container.DSHTTPService1.listeningPort());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&set, &sig);
    container.DSServer1.Stop();
    return 0;
}
