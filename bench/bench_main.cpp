// The main of every benchmark program. The code under test writes its trace texts to standard output;
// here file descriptor 1 is /dev/null for the whole run, so that printing them is measured as stdio
// does it into a file (fully buffered) and never floods a terminal. Google Benchmark's table goes to
// standard error instead, and --benchmark_out=<file> writes the JSON that bench/report.py reads.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    std::fflush(stdout);
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull < 0 || dup2(devnull, 1) < 0) {
        std::perror("bench: /dev/null");
        return 1;
    }
    close(devnull);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::ConsoleReporter table(benchmark::ConsoleReporter::OO_Tabular);
    table.SetOutputStream(&std::cerr);
    table.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    return 0;
}
