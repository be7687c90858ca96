// CorvaneDSPrinterClient: prints a text through a running server, over the
// DataSnap TCP/IP transport (any filter order) or over REST.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "dbx_print_client.h"

namespace {

void usage() {
    std::cerr << "usage: CorvaneDSPrinterClient [options] [TEXT]\n"
                 "Prints TEXT (or standard input) and writes the server's answer.\n"
                 "  --host H          server (127.0.0.1)\n"
                 "  --port N          TCP port (1211), or HTTP port with --rest (211)\n"
                 "  --user U          user name (upper case, as in the settings)\n"
                 "  --password P      password\n"
                 "  --filters ORDER   zlib-pc1 (default), pc1-zlib, or adopt (take the server's)\n"
                 "  --key K           PC1 key (mKpRuTqWbNcZxJvL)\n"
                 "  --rest            call the REST service instead of the TCP transport\n"
                 "  --json            call updateprint_json instead of print_texto\n"
                 "  --raw             send TEXT as the payload as it is (already encoded)\n"
                 "  --trace           dump the TCP bytes to standard error\n"
                 "Exit status: 0 printed, 1 the server answered an error text, 2 the call failed.\n";
}

void hexdump(bool out, std::string_view bytes) {
    std::fprintf(stderr, "%s %zu bytes\n", out ? "C->S" : "S->C", bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 16) {
        std::fprintf(stderr, "  %06zx ", i);
        for (std::size_t j = i; j < i + 16; ++j) {
            if (j < bytes.size())
                std::fprintf(stderr, " %02X", static_cast<unsigned char>(bytes[j]));
            else
                std::fprintf(stderr, "   ");
        }
        std::fprintf(stderr, "  ");
        for (std::size_t j = i; j < i + 16 && j < bytes.size(); ++j) {
            unsigned char c = static_cast<unsigned char>(bytes[j]);
            std::fputc(c >= 0x20 && c < 0x7F ? c : '.', stderr);
        }
        std::fputc('\n', stderr);
    }
}

} // namespace

int main(int argc, char **argv) {
    std::string host = "127.0.0.1", user, password, filters = "zlib-pc1", key = "mKpRuTqWbNcZxJvL", text;
    int port = -1;
    bool rest = false, asJson = false, raw = false, trace = false, haveText = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--host")
            host = value();
        else if (a == "--port")
            port = std::atoi(value().c_str());
        else if (a == "--user")
            user = value();
        else if (a == "--password")
            password = value();
        else if (a == "--filters")
            filters = value();
        else if (a == "--key")
            key = value();
        else if (a == "--rest")
            rest = true;
        else if (a == "--json")
            asJson = true;
        else if (a == "--raw")
            raw = true;
        else if (a == "--trace")
            trace = true;
        else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            std::cerr << "unknown option " << a << "\n";
            usage();
            return 2;
        } else {
            text = a;
            haveText = true;
        }
    }
    if (!haveText)
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    std::string payload = raw ? text : datasnap::encodePrintPayload(text);

    std::string answer;
    try {
        if (rest) {
            answer = datasnap::restPrint(host, static_cast<std::uint16_t>(port < 0 ? 211 : port), user, password,
                                         payload, asJson);
        } else {
            datasnap::DbxClientOptions o;
            o.host = host;
            o.port = static_cast<std::uint16_t>(port < 0 ? 1211 : port);
            o.user = user;
            o.password = password;
            if (filters == "zlib-pc1")
                o.filters = {datasnap::TransportFilter::zlib(1024), datasnap::TransportFilter::pc1(key)};
            else if (filters == "pc1-zlib")
                o.filters = {datasnap::TransportFilter::pc1(key), datasnap::TransportFilter::zlib(1024)};
            else if (filters != "adopt") {
                std::cerr << "unknown filter order " << filters << "\n";
                return 2;
            }
            if (trace)
                o.onWire = hexdump;
            datasnap::DbxClient client(o);
            client.open();
            answer = datasnap::tcpPrint(client, user, password, payload, asJson);
            client.close();
        }
    } catch (const std::exception &e) {
        std::cerr << "CorvaneDSPrinterClient: " << e.what() << "\n";
        return 2;
    }
    std::cout << answer << "\n";
    return answer == "Realizada com sucesso." ? 0 : 1;
}
