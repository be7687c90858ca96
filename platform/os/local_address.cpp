#include "local_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace os {

std::string firstLocalIPv4() {
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    std::string address;
    for (const ifaddrs *a = list; a && address.empty(); a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET_ADDRSTRLEN];
        const auto *in = reinterpret_cast<const sockaddr_in *>(a->ifa_addr);
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
            address = text;
    }
    freeifaddrs(list);
    return address;
}

} // namespace os
