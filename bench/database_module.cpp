#include <benchmark/benchmark.h>

#include "ServerMethodsUnit1Database.h"

// A module as each new session creates it, with the machine's own folders.
static void BM_ModuleCreation(benchmark::State &state) {
    for (auto _ : state) {
        TServerMethods1Database module;
        benchmark::DoNotOptimize(module.FDPhysMySQLDriverLink1.VendorLib.data());
    }
}
BENCHMARK(BM_ModuleCreation);

// The search alone when no client library exists anywhere: every candidate is
// tested (the slowest case).
static void BM_MySQLSearchNothingFound(benchmark::State &state) {
    TServerMethods1Database module({}, {"/nonexistent/app/", {"/nonexistent/a", "/nonexistent/b"}, {}});
    for (auto _ : state) {
        module.LocateMySQLClient(module.FDPhysMySQLDriverLink1);
        benchmark::DoNotOptimize(module.FDPhysMySQLDriverLink1.VendorLib.data());
    }
}
BENCHMARK(BM_MySQLSearchNothingFound);

BENCHMARK_MAIN();
