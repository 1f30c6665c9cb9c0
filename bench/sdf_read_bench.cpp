// read_sdf throughput, finishing included (read, sanitise, stereo from wedges
// or coordinates), on the real PubChem file: its 2-D records without their
// hydrogen atoms (drug-like records as most files hold them), as they are (with
// explicit hydrogens), and made 3-D by giving every atom a height.
// Whole-file records per second are the best of several runs; the per-record
// figures are medians of the best time of each record.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common.hpp"
#include "io/molblock.hpp"
#include "python/finish.hpp"

using namespace quorix;

namespace {

std::string read_file(const char* name) {
    const std::string path = std::string(QUORIX_BENCH_DATA) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The same text with a height in the z column of every atom line.
std::string lifted(const std::string& sdf) {
    std::string out;
    out.reserve(sdf.size());
    std::istringstream in(sdf);
    std::size_t atoms_left = 0, line_no = 0, k = 0;
    for (std::string line; std::getline(in, line); ++line_no) {
        if (line == "$$$$") line_no = std::size_t(-1);
        if (line_no == 3 && line.size() >= 6) atoms_left = std::stoul(line.substr(0, 3));
        else if (line_no > 3 && atoms_left > 0 && line.size() >= 30) {
            char z[16];
            std::snprintf(z, sizeof z, "%10.4f", 0.9 * std::sin(1.7 * double(++k)));
            line.replace(20, 10, z);
            --atoms_left;
        }
        out += line;
        out += '\n';
    }
    return out;
}

// The same records without their hydrogen atoms (and the bonds and property
// entries that name them): drug-like 2-D records as most files hold them.
std::string without_hydrogens(const std::string& sdf) {
    std::string out;
    std::istringstream in(sdf);
    std::vector<std::string> lines;
    auto flush_record = [&] {
        if (lines.size() < 4) {
            for (auto& l : lines) out += l + '\n';
            lines.clear();
            return;
        }
        const std::size_t n = std::stoul(lines[3].substr(0, 3)), m = std::stoul(lines[3].substr(3, 3));
        std::vector<int> renumber(n + 1, 0);
        std::vector<std::string> atoms, bonds;
        for (std::size_t i = 0; i < n; ++i) {
            const std::string& a = lines[4 + i];
            if (a.substr(31, 3) == "H  ") continue;
            atoms.push_back(a);
            renumber[i + 1] = int(atoms.size());
        }
        for (std::size_t j = 0; j < m; ++j) {
            std::string b = lines[4 + n + j];
            const int x = renumber[std::stoul(b.substr(0, 3))], y = renumber[std::stoul(b.substr(3, 3))];
            if (!x || !y) continue;
            char head[8];
            std::snprintf(head, sizeof head, "%3d%3d", x, y);
            bonds.push_back(head + b.substr(6));
        }
        char counts[8];
        std::snprintf(counts, sizeof counts, "%3zu%3zu", atoms.size(), bonds.size());
        for (int k = 0; k < 3; ++k) out += lines[k] + '\n';
        out += counts + lines[3].substr(6) + '\n';
        for (auto& a : atoms) out += a + '\n';
        for (auto& b : bonds) out += b + '\n';
        for (std::size_t k = 4 + n + m; k < lines.size(); ++k) {
            std::string l = lines[k];
            if (l.starts_with("M  CHG") || l.starts_with("M  ISO") || l.starts_with("M  RAD")) {
                std::string kept;
                int count = 0;
                for (int e = 0; e < std::stoi(l.substr(6, 3)); ++e) {
                    const int atom = renumber[std::stoul(l.substr(9 + 8 * e, 4))];
                    if (!atom) continue;
                    char entry[16];
                    std::snprintf(entry, sizeof entry, "%4d%s", atom, l.substr(13 + 8 * e, 4).c_str());
                    kept += entry;
                    ++count;
                }
                if (!count) continue;
                char head[16];
                std::snprintf(head, sizeof head, "%s%3d", l.substr(0, 6).c_str(), count);
                l = head + kept;
            }
            out += l + '\n';
        }
        out += "$$$$\n";
        lines.clear();
    };
    for (std::string line; std::getline(in, line);) {
        if (line == "$$$$") flush_record();
        else lines.push_back(line);
    }
    return out;
}

void run(const char* label, const std::string& text, int repeats) {
    std::size_t records = 0, failed = 0;
    // The previous run's records are freed before the clock starts: freeing
    // them is not reading.
    std::vector<python::PySdfRecord> result;
    double whole = 1e300;
    for (int r = 0; r < repeats; ++r) {
        result = {};
        whole = std::min(whole, bench::time_us([&] { result = python::read_sdf_records(text); }));
    }
    records = result.size();
    for (const auto& x : result) failed += x.error.has_value();
    std::vector<double> per_record;
    std::string_view rest = text;
    bool done = false;
    while (auto chunk = io::next_sdf_chunk(rest, done)) {
        const std::string_view c = *chunk;
        per_record.push_back(bench::best_us(repeats, [&] { python::read_sdf_record(c); }));
    }
    std::printf("%s: %zu records (%zu fail), %.0f records/s whole file, best of %d\n  ", label, records, failed,
                double(records) / (whole * 1e-6), repeats);
    bench::print_spread(per_record);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = bench::count_arg(argc, argv, 15);
    const std::string sdf = read_file("pubchem-1000.sdf");
    run("read_sdf 2-D, hydrogens removed", without_hydrogens(sdf), repeats);
    run("read_sdf 2-D, as filed (explicit hydrogens)", sdf, repeats);
    run("read_sdf 3-D, explicit hydrogens", lifted(sdf), repeats);
    return 0;
}
