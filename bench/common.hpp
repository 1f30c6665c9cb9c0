#pragma once
// Shared by the benchmarks: the real data files, timing, and the per-molecule
// figures they print.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <time.h>

#include "core/builder.hpp"
#include "io/smiles/read.hpp"

namespace quorix::bench {

// The lines of a file under the data folder; the benchmark ends when it is missing.
// CPU time of this thread in milliseconds: the machine may be shared, and time
// spent descheduled is not the code's.
inline double thread_ms() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// The median CPU time of five runs of `f`, or of two when one takes over a second.
template <class F>
inline double median_ms(F&& f) {
    double runs[5];
    int done = 0;
    for (; done < 5; ++done) {
        const double t0 = thread_ms();
        f();
        runs[done] = thread_ms() - t0;
        if (runs[done] > 1000) {  // a slow case: one more run is enough
            ++done;
            break;
        }
    }
    std::sort(runs, runs + done);
    return runs[done / 2];
}

inline std::vector<std::string> data_lines(const char* name) {
    const std::string path = std::string(QUORIX_BENCH_DATA) + "/" + name;
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

// The SMILES of molecules.smi (first field of each line).
inline std::vector<std::string> data_smiles() {
    std::vector<std::string> out = data_lines("molecules.smi");
    for (std::string& line : out) line = line.substr(0, line.find_first_of(" \t"));
    return out;
}

// Every molecule of molecules.smi that reads; the benchmark ends when none does.
inline std::vector<core::MolBuilder> data_molecules() {
    std::vector<core::MolBuilder> out;
    for (const std::string& s : data_smiles())
        if (auto m = io::read_smiles(s)) out.push_back(std::move(*m));
    if (out.empty()) {
        std::fprintf(stderr, "no molecules read\n");
        std::exit(1);
    }
    return out;
}

// A count from the first argument, or `fallback`.
inline int count_arg(int argc, char** argv, int fallback) {
    return argc > 1 ? std::max(1, std::atoi(argv[1])) : fallback;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The p-quantile (0 to 1) of a sorted list.
inline double quantile(const std::vector<double>& sorted, double p) {
    return sorted[std::min(sorted.size() - 1, std::size_t(p * double(sorted.size())))];
}

// Microseconds one call of `f` takes.
template <class F>
double time_us(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
}

// The best of `repeats` timings of `f`, in microseconds.
template <class F>
double best_us(int repeats, F&& f) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) best = std::min(best, time_us(f));
    return best;
}

// "median, p90, p99, max" of per-molecule microseconds.
inline void print_spread(std::vector<double> per_molecule) {
    std::sort(per_molecule.begin(), per_molecule.end());
    std::printf("median %.2f us/molecule, p90 %.2f us, p99 %.2f us, max %.2f us", quantile(per_molecule, 0.5),
                quantile(per_molecule, 0.9), quantile(per_molecule, 0.99), per_molecule.back());
}

}  // namespace quorix::bench
