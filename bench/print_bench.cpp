#include <benchmark/benchmark.h>

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "DecodePayload.h"
#include "uUtil.h"

namespace {

// Receipt-like UTF-8 text of about `bytes` bytes.
std::string receiptText(std::size_t bytes) {
    std::string text;
    for (int i = 0; text.size() < bytes; ++i)
        text += "Item " + std::to_string(i) +
                "  P\xC3\xA3o de a\xC3\xA7\xC3\xBA"
                "car   2 x 3,50 = 7,00 \xE2\x82\xAC\r\n";
    text.resize(bytes);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
        text.pop_back();
    if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0)
        text.pop_back();
    return text;
}

std::string base64(const std::string &bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                            reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// The Base64 text as a client sends it: plus signs and equals signs escaped.
std::string urlEncoded(const std::string &b64) {
    std::string out;
    for (char c : b64)
        out += c == '+' ? "%2B" : c == '=' ? "%3D" : std::string(1, c);
    return out;
}

struct Payload {
    std::string text, clean, encoded;
    explicit Payload(std::size_t base64Bytes)
        : text(receiptText(base64Bytes / 4 * 3)), clean(base64(text)), encoded(urlEncoded(clean)) {
        if (DecodePayload(encoded) != text)
            std::abort();
    }
};

const Payload &payload(std::size_t size) {
    static const Payload small(1024), large(1024 * 1024);
    return size == 1024 ? small : large;
}

void BM_DecodePayload(benchmark::State &state) {
    const Payload &p = payload(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string text = DecodePayload(p.encoded);
        benchmark::DoNotOptimize(text.data());
    }
    // Counted on the clean Base64 length, like the reference.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.clean.size()));
}
BENCHMARK(BM_DecodePayload)->Arg(1024)->Arg(1024 * 1024);

void BM_OpenSslDecodeBlock(benchmark::State &state) {
    const Payload &p = payload(static_cast<std::size_t>(state.range(0)));
    std::vector<unsigned char> out(p.clean.size());
    for (auto _ : state) {
        int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(p.clean.data()),
                                static_cast<int>(p.clean.size()));
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.clean.size()));
}
BENCHMARK(BM_OpenSslDecodeBlock)->Arg(1024)->Arg(1024 * 1024);

void printReceipt(benchmark::State &state, const std::string &path) {
    const std::string text = receiptText(4096);
    for (auto _ : state) {
        ReceiptDevice device(path);
        device.Open();
        PrintReceipt(device, text, "EPSON", true, true);
        device.Close();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_PrintReceiptDevNull(benchmark::State &state) {
    printReceipt(state, "/dev/null");
}
BENCHMARK(BM_PrintReceiptDevNull);

void BM_PrintReceiptFile(benchmark::State &state) {
    char path[] = "/tmp/corvane-bench-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("mkstemp failed");
        return;
    }
    close(fd);
    printReceipt(state, path);
    unlink(path);
}
BENCHMARK(BM_PrintReceiptFile);

} // namespace

BENCHMARK_MAIN();
