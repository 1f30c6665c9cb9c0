// Reading speed of the SMARTS reader over the real query set, and evaluation
// speed of the atom expressions read: prints per-query medians.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "io/smarts/parse.hpp"

using Clock = std::chrono::steady_clock;

int main() {
    std::ifstream in(QUORIX_BENCH_DATA "/queries.smarts");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.empty()) {
        std::fprintf(stderr, "no queries read\n");
        return 1;
    }

    constexpr int ROUNDS = 200;
    std::vector<double> read_ns, eval_ns;
    std::size_t atoms = 0, sink = 0;
    quorix::io::AtomProps probe;
    probe.atomic_num = 6;
    probe.degree = 3;
    probe.total_h = 1;
    for (const std::string& text : lines) {
        auto start = Clock::now();
        for (int r = 0; r < ROUNDS; ++r) {
            auto q = quorix::io::read_smarts(text);
            sink += q ? q->num_atoms() : 0;
        }
        read_ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() / ROUNDS);

        auto q = quorix::io::read_smarts(text);
        if (!q) continue;
        atoms += q->num_atoms();
        auto never = [](const quorix::io::Query&) { return false; };
        start = Clock::now();
        for (int r = 0; r < ROUNDS; ++r)
            for (const auto& e : q->atom_exprs) sink += e.matches(probe, never);
        eval_ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() / ROUNDS /
                          std::max<std::size_t>(1, q->num_atoms()));
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("smarts_read: %zu queries, %zu atoms\n", lines.size(), atoms);
    std::printf("  read: median %.0f ns per query\n", median(read_ns));
    std::printf("  atom test: median %.1f ns per atom expression\n", median(eval_ns));
    return sink == 0xFFFFFFFF ? 2 : 0;
}
