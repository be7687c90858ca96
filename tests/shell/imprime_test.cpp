#include <gtest/gtest.h>

#include <cups/cups.h>

#include <clocale>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>

#include "pdf_probe.h"
#include "printers.h"
#include "private_cupsd.h"
#include "temp_dir.h"
#include "uServerPrincipal.h"

// Page printing through the machine's CUPS scheduler and its cups-pdf test
// queues Laser_A (the default) and Laser_B; the printed PDFs are read back.

using pdfprobe::kPtPerMm;

namespace {

// The real CUPS printers, remembering which job each print became. `extra`
// names are listed after the real ones (queues that do not exist).
class RecordingPrinters : public printers::PrinterSystem {
public:
    struct Job {
        std::string printer;
        int id;
        printers::JobOptions options;
    };

    std::vector<std::string> extra;

    printers::PrinterList list() override {
        printers::PrinterList l = cups_.list();
        l.names.insert(l.names.end(), extra.begin(), extra.end());
        return l;
    }
    int printPdf(const std::string &printer, const std::string &pdf, const printers::JobOptions &options) override {
        int id = cups_.printPdf(printer, pdf, options);
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back({printer, id, options});
        return id;
    }
    std::vector<Job> jobs() {
        std::lock_guard<std::mutex> lock(mutex_);
        return jobs_;
    }

private:
    printers::CupsPrinters cups_;
    std::mutex mutex_;
    std::vector<Job> jobs_;
};

struct Printed {
    std::string printer;
    std::vector<pdfprobe::Page> pages;
    std::vector<std::string> fonts;

    // Lines above the page footer, page after page.
    std::vector<pdfprobe::Line> body() const {
        std::vector<pdfprobe::Line> out;
        for (const auto &p : pages)
            for (const auto &l : p.lines())
                if (l.yMin < (279.4 - 10 - 6.35) * kPtPerMm)
                    out.push_back(l);
        return out;
    }
    std::vector<std::string> bodyTexts() const {
        std::vector<std::string> out;
        for (const auto &l : body())
            out.push_back(l.text);
        return out;
    }
};

TSettings pageSettings() {
    TSettings s;
    s.op_impr = "2";
    s.fonte_tam = "11";
    s.negrito = "N"; // page printing is bold whatever this holds
    s.mesquerda = "10";
    s.msuperior = "10";
    return s;
}

class Imprime : public ::testing::Test {
protected:
    void SetUp() override { form.PagePrinters = recorder; }

    // Prints `text` with `settings`, expects success, and reads the job's PDF back.
    Printed print(const std::string &text, const TSettings &settings) {
        form.ReplaceSettings(settings);
        size_t before = recorder->jobs().size();
        std::string erro = "stale";
        EXPECT_TRUE(form.imprime(text, erro)) << erro;
        EXPECT_EQ(erro, "");
        auto jobs = recorder->jobs();
        if (jobs.size() != before + 1) {
            ADD_FAILURE() << "expected one job, got " << jobs.size() - before;
            return {};
        }
        return readJob(jobs.back().printer, jobs.back().id);
    }

    static Printed readJob(const std::string &queue, int id) {
        std::string path = pdfprobe::waitForJob(queue, id);
        if (path.empty()) {
            ADD_FAILURE() << "no PDF for job " << id << " on " << queue;
            return {};
        }
        Printed out{queue, pdfprobe::readPages(path), pdfprobe::fonts(path)};
        EXPECT_NE(pdfprobe::info(path).find("Page size:       612 x 792 pts (letter)"), std::string::npos);
        std::filesystem::remove(path);
        return out;
    }

    // Expects `settings` to fail with `message` and nothing to be printed.
    void expectFailure(const TSettings &settings, const std::string &message, const std::string &text = "texto") {
        form.ReplaceSettings(settings);
        size_t before = recorder->jobs().size();
        std::string erro;
        EXPECT_FALSE(form.imprime(text, erro));
        EXPECT_EQ(erro, message);
        EXPECT_EQ(recorder->jobs().size(), before);
    }

    std::shared_ptr<RecordingPrinters> recorder = std::make_shared<RecordingPrinters>();
    TFormPrincipal form;
};

double characters(const std::string &utf8) {
    return static_cast<double>(std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Words of nine characters, so that lines end short of the block's right edge
// (83, 65 and 101 columns at 11, 14 and 9 pt hold 8, 6 and 10 words) and stay on
// the paper when the block moves right. The hyphenated word never breaks.
std::string nineLetterWords() {
    std::string para;
    for (int i = 0; i < 40; ++i)
        para += (i % 3 == 0 ? "impressão" : i % 3 == 1 ? "relatório" : "um-dois-3") + std::string(" ");
    return para;
}

} // namespace

TEST_F(Imprime, PrintsTheWrappedBlockBoldAtTheConfiguredSizeWithTheFooter) {
    struct Case {
        const char *fonte_tam;
        int size;
        size_t columns; // Courier characters that fit in 194.20 mm
    };
    static constexpr Case cases[] = {{"11", 11, 83}, {"14", 14, 65}, {" 9", 9, 101}};
    const std::string para = nineLetterWords() + std::string(100, 'X'); // a word longer than a line is cut
    for (const Case &c : cases) {
        TSettings s = pageSettings();
        s.fonte_tam = c.fonte_tam;
        Printed out = print(para, s);
        ASSERT_EQ(out.pages.size(), 1u) << c.fonte_tam;
        EXPECT_EQ(out.printer, "Laser_A"); // no name given: the default printer
        EXPECT_EQ(out.fonts, (std::vector<std::string>{"LiberationMono-Bold", "LiberationSans"}));
        EXPECT_EQ(out.bodyTexts(), pdfprobe::monospaceWrap(para, c.columns)) << c.fonte_tam;
        for (const auto &l : out.body()) {
            EXPECT_NEAR(l.xMin, 11.06 * kPtPerMm, 0.1);
            const auto &w = l.words.front();
            EXPECT_NEAR((w.xMax - w.xMin) / characters(w.text), 0.6 * c.size, 0.02) << w.text;
        }
        auto lines = out.pages[0].lines();
        EXPECT_EQ(lines.back().text, "Página 1");
        EXPECT_NEAR((lines.back().xMin + lines.back().xMax) / 2, (10 + 164.84 + 29.90 / 2) * kPtPerMm, 0.5);
    }
}

TEST_F(Imprime, MarginsMoveTheBlockWithoutNarrowingIt) {
    const std::string para = nineLetterWords();
    TSettings s = pageSettings();
    Printed designed = print(para, s);
    s.mesquerda = "25";
    s.msuperior = "30.5";
    Printed moved = print(para, s);
    ASSERT_FALSE(designed.body().empty());
    EXPECT_EQ(moved.bodyTexts(), designed.bodyTexts());
    EXPECT_NEAR(moved.body()[0].xMin - designed.body()[0].xMin, 15 * kPtPerMm, 0.1);
    EXPECT_NEAR(moved.body()[0].yMin - designed.body()[0].yMin, 20.5 * kPtPerMm, 0.1);
    for (const auto &l : moved.body())
        EXPECT_NEAR(l.xMin, 26.06 * kPtPerMm, 0.1);
}

TEST_F(Imprime, LineEndsAndNulFollowTheLineListRules) {
    using namespace std::string_literals;
    Printed out = print("um\ndois\r\ntres\rquatro\r\n\0cinco"s, pageSettings());
    EXPECT_EQ(out.bodyTexts(), (std::vector<std::string>{"um", "dois", "tres", "quatro"}));
    auto body = out.body();
    ASSERT_EQ(body.size(), 4u);
    const double pitch = body[1].yMin - body[0].yMin;
    EXPECT_NEAR(body[3].yMin - body[2].yMin, pitch, 0.1); // no blank line from CR LF
}

TEST_F(Imprime, EmptyTextPrintsOnePageWithOnlyTheFooter) {
    Printed out = print("", pageSettings());
    ASSERT_EQ(out.pages.size(), 1u);
    auto lines = out.pages[0].lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "Página 1");
}

TEST_F(Imprime, LongTextContinuesOnPagesEachWithItsFooter) {
    std::string text;
    for (int i = 1; i <= 150; ++i)
        text += "linha " + std::to_string(i) + "\n";
    Printed out = print(text, pageSettings());
    ASSERT_EQ(out.pages.size(), 3u);
    std::vector<std::string> expected;
    for (int i = 1; i <= 150; ++i)
        expected.push_back("linha " + std::to_string(i));
    EXPECT_EQ(out.bodyTexts(), expected);
    for (size_t p = 0; p < out.pages.size(); ++p) {
        auto lines = out.pages[p].lines();
        EXPECT_EQ(lines.back().text, "Página " + std::to_string(p + 1));
        EXPECT_NEAR(lines.front().yMin, out.pages[0].lines().front().yMin, 0.1);
    }
}

TEST_F(Imprime, ChoosesThePrinterByCaseSensitiveSubstringLastMatchWinning) {
    std::istringstream lpstat(pdfprobe::run("lpstat -e"));
    std::vector<std::string> queues;
    for (std::string line; std::getline(lpstat, line);)
        queues.push_back(line);
    if (queues != std::vector<std::string>{"Laser_A", "Laser_B"} ||
        pdfprobe::run("lpstat -d") != "system default destination: Laser_A\n")
        GTEST_SKIP() << "needs exactly the test queues Laser_A (default) and Laser_B";
    struct Case {
        const char *vimpressora;
        const char *queue;
    };
    static constexpr Case cases[] = {
        {"Laser", "Laser_B"}, // both match: the last one wins
        {"laser", "Laser_A"}, // no match (case counts): the default
        {"", "Laser_A"},      // an empty name matches nothing
        {"r_B", "Laser_B"},
    };
    for (const Case &c : cases) {
        TSettings s = pageSettings();
        s.vimpressora = c.vimpressora;
        const std::string text = std::string("para [") + c.vimpressora + "]";
        Printed out = print(text, s);
        EXPECT_EQ(out.printer, c.queue) << c.vimpressora;
        EXPECT_EQ(out.bodyTexts(), std::vector<std::string>{text});
    }
}

TEST_F(Imprime, SettingErrorsAnswerTheRuntimeTextsAndPrintNothing) {
    struct Case {
        const char *mesquerda, *msuperior, *fonte_tam;
        const char *erro;
    };
    static constexpr Case cases[] = {
        {"abc", "10", "11", "Erro: 'abc' is not a valid floating point value"},
        {"10", "", "11", "Erro: '' is not a valid floating point value"},
        {"10", "10", "12x", "Erro: '12x' is not a valid integer value for Integer type"},
        {"10", "10", "11.5", "Erro: '11.5' is not a valid integer value for Integer type"},
        {"10", "10", "99999999999", "Erro: '99999999999' is not a valid integer value for Integer type"},
        {"10", "10", "12 ", "Erro: '12 ' is not a valid integer value for Integer type"},
        // the left margin is read first, then the top margin, then the size
        {"1,5", "x", "y", "Erro: '1,5' is not a valid floating point value"},
        {"10", "1.2.3", "y", "Erro: '1.2.3' is not a valid floating point value"},
        {"10", "1e999", "11", "Erro: '1e999' is not a valid floating point value"},
        {"10", "10", "0", "Erro: Font size 0 pt is out of range"},
        {"10", "270", "11", "Erro: Top margin of 270 mm leaves no room for text on a page 279.4 mm high"},
    };
    for (const Case &c : cases) {
        TSettings s = pageSettings();
        s.mesquerda = c.mesquerda;
        s.msuperior = c.msuperior;
        s.fonte_tam = c.fonte_tam;
        expectFailure(s, c.erro);
    }
}

TEST_F(Imprime, DecimalMarginsFollowTheRegionalFormat) {
    testutil::TempDir locales;
    if (std::system(("localedef -i pt_BR -f UTF-8 " + locales.file("pt_BR.UTF-8") + " >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "cannot build the pt_BR locale";
    setenv("LOCPATH", locales.path().c_str(), 1);
    ASSERT_NE(setlocale(LC_NUMERIC, "pt_BR.UTF-8"), nullptr);
    struct Restore {
        ~Restore() { setlocale(LC_NUMERIC, "C"); }
    } restore;
    TSettings s = pageSettings();
    s.mesquerda = "12.5";
    expectFailure(s, "Erro: '12.5' is not a valid floating point value");
    s.mesquerda = "12,5";
    Printed out = print("vírgula", s);
    ASSERT_EQ(out.body().size(), 1u);
    EXPECT_NEAR(out.body()[0].xMin, (12.5 + 1.06) * kPtPerMm, 0.1);
}

TEST_F(Imprime, PrinterFailuresReachTheCallerWithCupsMessage) {
    recorder->extra = {"Laser_Ghost"}; // listed, but no such queue
    TSettings s = pageSettings();
    s.vimpressora = "Ghost";
    expectFailure(s, "Erro: The printer or class does not exist.");
}

TEST_F(Imprime, NoSchedulerNoPrinterAndNoDefaultPrinter) {
    // The machine's CUPS as imprime finds it, pointed elsewhere on this thread only.
    form.PagePrinters = nullptr;
    form.ReplaceSettings(pageSettings());
    std::string erro;
    struct ServerReset {
        ~ServerReset() { cupsSetServer(nullptr); }
    } reset;
    cupsSetServer("/nonexistent/corvane-test/cups.sock");
    bool ok = form.imprime("texto", erro);
    EXPECT_FALSE(ok);
    EXPECT_EQ(erro.rfind("Erro: The CUPS print scheduler is not reachable at /nonexistent/corvane-test/cups.sock", 0),
              0u)
        << erro;

    testutil::PrivateCupsd own; // a scheduler with no printer installed
    ASSERT_TRUE(own.running()) << "could not start a private CUPS scheduler";
    cupsSetServer(own.socket().c_str());
    ok = form.imprime("texto", erro);
    EXPECT_TRUE(ok); // nothing to print on: nothing printed, no failure
    EXPECT_EQ(erro, "");

    // A printer installed, but no default destination and no name that matches.
    ASSERT_TRUE(own.addQueue("Laser_X"));
    ok = form.imprime("texto", erro);
    EXPECT_FALSE(ok);
    EXPECT_EQ(erro, "Erro: There is no default printer currently selected");
    TSettings s = pageSettings();
    s.vimpressora = "X";
    form.ReplaceSettings(s);
    ok = form.imprime("texto", erro);
    EXPECT_TRUE(ok) << erro;
}

TEST_F(Imprime, TheMachinesDefaultPrinterPrintsWithoutAWrapper) {
    form.PagePrinters = nullptr;
    form.ReplaceSettings(pageSettings());
    const std::string marker = "marca-" + std::to_string(::getpid()) + "-" + std::to_string(std::rand());
    std::string erro;
    ASSERT_TRUE(form.imprime(marker, erro)) << erro;
    // Find our job among the default queue's jobs by its printed text.
    cups_job_t *jobs = nullptr;
    int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, "Laser_A", 1, CUPS_WHICHJOBS_ALL);
    bool found = false;
    for (int i = n - 1; i >= 0 && i >= n - 20 && !found; --i) {
        if (std::string(jobs[i].title) != "Previsão de Relatório")
            continue;
        std::string path = pdfprobe::waitForJob("Laser_A", jobs[i].id); // empty when another test took it
        if (path.empty())
            continue;
        auto pages = pdfprobe::readPages(path);
        found = pages.size() == 1 && pages[0].lines().size() == 2 && pages[0].lines()[0].text == marker;
        if (found)
            std::filesystem::remove(path);
    }
    cupsFreeJobs(n, jobs);
    EXPECT_TRUE(found);
}

TEST_F(Imprime, SimultaneousCallsBothPrint) {
    form.ReplaceSettings(pageSettings());
    std::string erroA, erroB;
    bool okA = false, okB = false;
    std::thread a([&] { okA = form.imprime("primeiro", erroA); });
    std::thread b([&] { okB = form.imprime("segundo", erroB); });
    a.join();
    b.join();
    EXPECT_TRUE(okA) << erroA;
    EXPECT_TRUE(okB) << erroB;
    std::vector<std::string> texts;
    for (const auto &job : recorder->jobs())
        for (const auto &t : readJob(job.printer, job.id).bodyTexts())
            texts.push_back(t);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"primeiro", "segundo"}));
}
