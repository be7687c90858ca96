#pragma once

#include <random>
#include <stdexcept>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "servidor_cfg.h"
#include "uScramble.h"

namespace testutil {

// Whether a listener could bind this TCP port on every address now.
inline bool portBindable(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool ok = ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// A `Porta` P of four digits such that both the HTTP port P and the TCP port
// "1"+P are free, so a server started on it can listen on both.
inline int freePortPair() {
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> pick(2000, 9999);
    for (int i = 0; i < 200; ++i) {
        const int p = pick(rng);
        if (portBindable(p) && portBindable(10000 + p))
            return p;
    }
    throw std::runtime_error("no free pair of ports");
}

// servidor.cfg in `folder` as the settings dialog writes it: a receipt printer
// on `device`, no condensed print, no cut.
inline void writeTestSettings(const std::string &folder, const std::string &porta, const std::string &usuario,
                              const std::string &senha, const std::string &device = "/dev/null",
                              const std::string &model = "") {
    ServidorCfgLines lines{scramble(porta), scramble(usuario), scramble(senha), scramble("0"), "1", device, "11",
                           "N",             "10",             "10",           "N",            "N", model};
    WriteServidorCfg(folder + "/" + kServidorCfgName, lines);
}

} // namespace testutil
