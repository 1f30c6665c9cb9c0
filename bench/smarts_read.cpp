// Reading speed of the SMARTS reader over the real query set, and evaluation
// speed of the atom expressions read: prints per-query medians.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common.hpp"
#include "io/smarts/parse.hpp"

int main() {
    const std::vector<std::string> lines = quorix::bench::data_lines("queries.smarts");
    constexpr int ROUNDS = 200;
    std::vector<double> read_ns, eval_ns;
    std::size_t atoms = 0, sink = 0;
    quorix::io::AtomProps probe;
    probe.atomic_num = 6;
    probe.degree = 3;
    probe.total_h = 1;
    for (const std::string& text : lines) {
        read_ns.push_back(1e3 * quorix::bench::time_us([&] {
            for (int r = 0; r < ROUNDS; ++r) {
                auto q = quorix::io::read_smarts(text);
                sink += q ? q->num_atoms() : 0;
            }
        }) / ROUNDS);

        auto q = quorix::io::read_smarts(text);
        if (!q) continue;
        atoms += q->num_atoms();
        auto never = [](const quorix::io::Query&) { return false; };
        eval_ns.push_back(1e3 * quorix::bench::time_us([&] {
            for (int r = 0; r < ROUNDS; ++r)
                for (const auto& e : q->atom_exprs) sink += e.matches(probe, never);
        }) / ROUNDS / double(std::max<std::size_t>(1, q->num_atoms())));
    }
    std::printf("smarts_read: %zu queries, %zu atoms\n", lines.size(), atoms);
    std::printf("  read: median %.0f ns per query\n", quorix::bench::median(read_ns));
    std::printf("  atom test: median %.1f ns per atom expression\n", quorix::bench::median(eval_ns));
    return sink == 0xFFFFFFFF ? 2 : 0;
}
