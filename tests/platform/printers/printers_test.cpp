#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "pdf_probe.h"
#include "printers.h"
#include "private_cupsd.h"

// These tests use the machine's CUPS scheduler with the cups-pdf test queues
// Laser_A (the default) and Laser_B.

namespace {

std::vector<std::string> lpstatDestinations() {
    std::istringstream in(pdfprobe::run("lpstat -e"));
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line.find('/') == std::string::npos)
            names.push_back(line);
    return names;
}

// A one-page Letter PDF showing `text` (ASCII) in Courier.
std::string onePagePdf(const std::string &text) {
    const std::string content = "BT /F1 12 Tf 72 700 Td (" + text + ") Tj ET";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char entry[21];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace

TEST(CupsPrinters, ListsTheQueuesInCupsOrderWithTheDefault) {
    printers::PrinterList list = printers::CupsPrinters().list();
    EXPECT_EQ(list.names, lpstatDestinations());
    EXPECT_NE(std::find(list.names.begin(), list.names.end(), "Laser_A"), list.names.end());
    EXPECT_NE(std::find(list.names.begin(), list.names.end(), "Laser_B"), list.names.end());
    // CUPS sorts its destinations by name, ignoring case.
    EXPECT_TRUE(std::is_sorted(list.names.begin(), list.names.end(), [](const std::string &a, const std::string &b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }));
    EXPECT_EQ("system default destination: " + list.defaultName + "\n", pdfprobe::run("lpstat -d"));
}

TEST(CupsPrinters, PrintsThePdfAsOneTitledJob) {
    printers::CupsPrinters cups;
    printers::JobOptions options;
    options.title = "Previsão de Relatório";
    options.media = "na_letter_8.5x11in";
    int job = cups.printPdf("Laser_B", onePagePdf("impresso pela fila B"), options);
    ASSERT_GT(job, 0);
    std::string path = pdfprobe::waitForJob("Laser_B", job);
    ASSERT_FALSE(path.empty()) << "no output for job " << job;
    // cups-pdf names the file after the job's title (non-ASCII bytes as _<octal>).
    EXPECT_EQ(std::filesystem::path(path).filename().string(),
              "Previs_303_243o_de_Relat_303_263rio-job_" + std::to_string(job) + ".pdf");
    auto pages = pdfprobe::readPages(path);
    ASSERT_EQ(pages.size(), 1u); // one copy
    ASSERT_EQ(pages[0].lines().size(), 1u);
    EXPECT_EQ(pages[0].lines()[0].text, "impresso pela fila B");
    std::filesystem::remove(path);
}

TEST(CupsPrinters, FailuresCarryCupsOwnMessage) {
    printers::CupsPrinters cups;
    try {
        cups.printPdf("No_Such_Queue_xyz", onePagePdf("x"), {});
        FAIL() << "printing to a missing queue succeeded";
    } catch (const printers::SchedulerUnavailable &) {
        FAIL() << "a missing queue is not a missing scheduler";
    } catch (const printers::PrinterError &e) {
        EXPECT_STREQ(e.what(), "The printer or class does not exist.");
        EXPECT_EQ(e.status(), 0x0406); // client-error-not-found
    }
    // A failure leaves no stale state behind: the next call succeeds.
    EXPECT_FALSE(cups.list().names.empty());
}

TEST(CupsPrinters, NoSchedulerIsAClearError) {
    for (std::string server : {"/nonexistent/corvane/cups.sock", "127.0.0.1:1"}) {
        printers::CupsPrinters dead(server);
        try {
            dead.list();
            FAIL() << "listing through " << server << " succeeded";
        } catch (const printers::SchedulerUnavailable &e) {
            EXPECT_NE(std::string(e.what()).find("The CUPS print scheduler is not reachable at " + server),
                      std::string::npos)
                << e.what();
        }
        EXPECT_THROW(dead.printPdf("Laser_A", "%PDF", {}), printers::SchedulerUnavailable);
    }
}

TEST(CupsPrinters, ASchedulerWithoutPrintersListsNone) {
    testutil::PrivateCupsd empty;
    ASSERT_TRUE(empty.running()) << "could not start a private CUPS scheduler";
    printers::CupsPrinters cups(empty.socket());
    printers::PrinterList list = cups.list();
    EXPECT_TRUE(list.names.empty());
    EXPECT_EQ(list.defaultName, "");
    try {
        cups.printPdf("Laser_A", "%PDF-1.4", {});
        FAIL() << "printed on a scheduler without printers";
    } catch (const printers::SchedulerUnavailable &) {
        FAIL() << "the scheduler is there";
    } catch (const printers::PrinterError &e) {
        EXPECT_STREQ(e.what(), "The printer or class does not exist.");
    }
}

TEST(CupsPrinters, AQueueThatRejectsJobsGivesCupsReason) {
    testutil::PrivateCupsd own;
    ASSERT_TRUE(own.running()) << "could not start a private CUPS scheduler";
    ASSERT_TRUE(own.addQueue("Laser_X"));
    printers::CupsPrinters cups(own.socket());
    EXPECT_EQ(cups.list().names, std::vector<std::string>{"Laser_X"});
    EXPECT_GT(cups.printPdf("Laser_X", onePagePdf("aceito"), {}), 0);

    ASSERT_EQ(std::system(("cupsreject -h " + pdfprobe::quoted(own.socket()) + " Laser_X").c_str()), 0);
    try {
        cups.printPdf("Laser_X", onePagePdf("recusado"), {});
        FAIL() << "a rejecting queue took the job";
    } catch (const printers::PrinterError &e) {
        EXPECT_STREQ(e.what(), "Destination \"Laser_X\" is not accepting jobs.");
        EXPECT_EQ(e.status(), 0x0506); // server-error-not-accepting-jobs
    }
}
