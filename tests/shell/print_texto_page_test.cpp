#include <gtest/gtest.h>

#include <cups/cups.h>

#include <cstdint>

#include "ServerMethodsUnit1.h"
#include "json_value.h"
#include "pdf_probe.h"
#include "printers.h"
#include "uServerPrincipal.h"

// A client's page print from the remote method down to the PDF that the CUPS
// queue made: payload decoding, the main window's settings and imprime.

namespace {

// Base64 with its plus signs URL-escaped, as clients send it.
std::string clientPayload(const std::string &text) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < text.size(); i += 3) {
        size_t n = std::min<size_t>(3, text.size() - i);
        std::uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(text[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k) {
            char c = k > n ? '=' : alphabet[(v >> (18 - 6 * k)) & 63];
            out += c == '+' ? std::string("%2B") : std::string(1, c);
        }
    }
    return out;
}

// The queue's jobs with the report's title that are newer than `after`.
std::vector<int> reportJobs(const std::string &queue, int after) {
    cups_job_t *jobs = nullptr;
    int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
    std::vector<int> ids;
    for (int i = 0; i < n; ++i)
        if (jobs[i].id > after && std::string(jobs[i].title) == "Previsão de Relatório")
            ids.push_back(jobs[i].id);
    cupsFreeJobs(n, jobs);
    return ids;
}

int lastJobId(const std::string &queue) {
    std::vector<int> ids = reportJobs(queue, 0);
    return ids.empty() ? 0 : *std::max_element(ids.begin(), ids.end());
}

// The body lines of the first of our jobs on `queue` whose text starts with
// `marker`; other developers' tests may print on the same queue meanwhile.
std::vector<std::string> printedLines(const std::string &queue, int after, const std::string &marker) {
    for (int id : reportJobs(queue, after)) {
        std::string path = pdfprobe::waitForJob(queue, id);
        if (path.empty())
            continue;
        std::vector<std::string> lines;
        for (const auto &page : pdfprobe::readPages(path))
            for (const auto &l : page.lines())
                lines.push_back(l.text);
        if (!lines.empty() && lines.front().rfind(marker, 0) == 0) {
            std::filesystem::remove(path);
            return lines;
        }
    }
    return {};
}

class PageMethods : public ::testing::Test {
protected:
    void SetUp() override {
        TSettings s;
        s.op_impr = "2";
        s.vimpressora = "Laser_B";
        s.fonte_tam = "11";
        s.negrito = "N";
        s.mesquerda = "10";
        s.msuperior = "10";
        form.ReplaceSettings(s);
    }
    TServerMethods1 methods() {
        return TServerMethods1(
            [this] { return form.Settings(); },
            [this](const std::string &value, std::string &erro) { return form.imprime(value, erro); });
    }
    std::string marker() const {
        return "pedido-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(::getpid());
    }

    TFormPrincipal form;
};

} // namespace

TEST_F(PageMethods, PrintTextoPrintsTheDecodedTextOnThePrinterOfTheSettings) {
    const int before = lastJobId("Laser_B");
    const std::string text = marker() + "\r\nCafé com pão: R$ 12,50\nTotal do pedido";
    EXPECT_EQ(methods().print_texto("USER", "PASS", clientPayload(text)), "Realizada com sucesso.");
    EXPECT_EQ(printedLines("Laser_B", before, marker()),
              (std::vector<std::string>{marker(), "Café com pão: R$ 12,50", "Total do pedido", "Página 1"}));
}

TEST_F(PageMethods, UpdateprintJsonPrintsTheTextOfTheObject) {
    const int before = lastJobId("Laser_B");
    const std::string text = marker() + "\nvia JSON";
    json::Value value = json::Value::object({{"texto", json::Value::string(clientPayload(text))}});
    EXPECT_EQ(methods().updateprint_json("USER", "PASS", &value), "Realizada com sucesso.");
    EXPECT_EQ(printedLines("Laser_B", before, marker()), (std::vector<std::string>{marker(), "via JSON", "Página 1"}));
}

TEST_F(PageMethods, SettingErrorsBecomeTheResultText) {
    TSettings s = *form.Settings();
    s.fonte_tam = "12x";
    form.ReplaceSettings(s);
    EXPECT_EQ(methods().print_texto("USER", "PASS", clientPayload("texto")),
              "Erro: '12x' is not a valid integer value for Integer type");
}
