#include <benchmark/benchmark.h>

#include "uRel_ocorr.h"

namespace {

// About `pages` pages of the report: each source line wraps to two printed lines.
std::string textOf(int pages) {
    std::string text;
    const int lines = pages * 57 / 2;
    for (int i = 1; i <= lines; ++i)
        text += "Ocorrência " + std::to_string(i) +
                ": o cliente informou que a impressão do cupom fiscal saiu cortada no final da página e pediu "
                "uma nova via.\r\n";
    return text;
}

void BM_RenderPageReport(benchmark::State &state) {
    const std::string text = textOf(static_cast<int>(state.range(0)));
    int pages = 0;
    for (auto _ : state) {
        TRel_ocorr rel;
        rel.qrmemo1.caption = text;
        rel.qrmemo1.font.size = 11;
        rel.qrmemo1.font.bold = true;
        report::RenderedReport out = rel.Report.renderPdf();
        pages = out.pages;
        benchmark::DoNotOptimize(out.pdf.data());
    }
    state.counters["pages"] = pages;
    state.counters["per_page"] =
        benchmark::Counter(static_cast<double>(pages) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_RenderPageReport)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
