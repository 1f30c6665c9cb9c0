// Reads arbitrary bytes as a V2000 molblock, finishes every block that reads
// (sanitise, stereo from wedges or coordinates) and writes it back: reading
// must end in a block or its error, the block's arrays must match its graph,
// and a written block must read again with the same atoms and bonds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "chem/kekulize.hpp"
#include "io/molblock.hpp"
#include "io/wedge.hpp"
#include "python/finish.hpp"

namespace {

using namespace quorix;

void require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 16384) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = io::read_molblock(text);
    if (!parsed) {
        require(!parsed.error().to_string().empty());
        return 0;
    }
    const std::uint32_t atoms = parsed->mol.num_atoms(), bonds = parsed->mol.num_bonds();
    require(parsed->coords.size() == atoms && parsed->wedge_marks.size() == bonds && parsed->either.size() == bonds);
    require(parsed->is_3d == io::is_3d(parsed->coords));
    const std::vector<io::Wedge> wedges = parsed->wedge_marks;
    auto block = python::finish_molblock(std::move(*parsed));
    if (!block) return 0;
    require(block->mol.num_atoms() == atoms && block->coords.size() == atoms);

    core::MolBuilder kekule = block->mol;
    if (!chem::kekulize(kekule)) return 0;
    std::vector<core::BondOrder> orders;
    for (const core::Bond& b : kekule.bonds) orders.push_back(b.order);
    const std::vector<std::uint8_t> either = io::either_double_bonds(block->mol);
    auto written = io::write_molblock(block->mol, {block->title, block->coords, wedges, orders, either});
    if (!written) return 0;  // what V2000 cannot hold is refused, not written
    auto again = io::read_molblock(*written);
    require(again.has_value());
    require(again->mol.num_atoms() == atoms && again->mol.num_bonds() == bonds);
    // A title with a carriage return is refused above, so none is lost to a line end.
    require(again->title == block->title);
    return 0;
}
