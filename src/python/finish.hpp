#pragma once
// The one road from a read molblock to a finished one, and the SDF record loop
// that drives it: read, sanitise, then the stereo marks from wedges and
// coordinates. Engine code only (no Python.h), so that the benchmarks time
// exactly what read_sdf and parse_molblock run.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chem/sanitize.hpp"
#include "core/builder.hpp"
#include "io/molblock.hpp"
#include "io/wedge.hpp"

namespace quorix::python {

// The payload of a Molblock: the sanitised molecule with its stereo marks, and
// the file's coordinates, title and dimension.
struct PyMolblock {
    core::MolBuilder mol;
    std::vector<io::Coord> coords;
    std::string title;
    bool is_3d = false;
};

// The payload of an SdfRecord: exactly one of block and error is present.
struct PySdfRecord {
    std::vector<io::DataItem> data;
    std::optional<PyMolblock> block;
    std::optional<std::string> error;
};

// Sanitises, then perceives stereo in this order: tags from wedges (2-D
// only), cis/trans from 2-D, tags from 3-D, cis/trans from 3-D. The
// double-bond steps see the tags of their dimension in the symmetry classes.
inline std::expected<PyMolblock, std::string> finish_molblock(io::ParsedMolblock&& parsed) {
    core::MolBuilder& mol = parsed.mol;
    if (auto done = chem::sanitize(mol); !done) return std::unexpected(done.error().to_string());
    io::chirality_from_wedges(mol, parsed.coords, parsed.wedge_marks);
    io::double_bond_stereo_from_2d(mol, parsed.coords, parsed.either);
    io::chirality_from_3d(mol, parsed.coords);
    io::double_bond_stereo_from_3d(mol, parsed.coords, parsed.either);
    return PyMolblock{std::move(mol), std::move(parsed.coords), std::move(parsed.title), parsed.is_3d};
}

// One record per chunk of the text; a record that cannot be read or finished
// carries its error and takes its place all the same.
inline PySdfRecord read_sdf_record(std::string_view chunk) {
    PySdfRecord record;
    auto entry = io::parse_sdf_record(chunk);
    if (!entry) {
        record.error = entry.error().to_string();
        return record;
    }
    record.data = std::move(entry->data);
    auto block = finish_molblock(std::move(entry->molblock));
    if (block) record.block = std::move(*block);
    else record.error = std::move(block.error());
    return record;
}

inline std::vector<PySdfRecord> read_sdf_records(std::string_view text) {
    std::vector<PySdfRecord> records;
    bool exhausted = false;
    while (auto chunk = io::next_sdf_chunk(text, exhausted)) records.push_back(read_sdf_record(*chunk));
    return records;
}

}  // namespace quorix::python
