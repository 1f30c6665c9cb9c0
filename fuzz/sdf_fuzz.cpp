// Reads arbitrary bytes as an SDF text the way read_sdf does: every chunk
// becomes exactly one record, holding a finished block or an error, never a
// crash; the chunks never overlap and come in text order.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "io/molblock.hpp"
#include "python/finish.hpp"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 16384) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string_view rest = text;
    bool done = false;
    std::size_t chunks = 0;
    const char* last_end = text.data();
    while (auto chunk = quorix::io::next_sdf_chunk(rest, done)) {
        require(chunk->data() >= last_end && chunk->data() + chunk->size() <= text.data() + text.size());
        require(!quorix::io::is_blank(*chunk));
        last_end = chunk->data() + chunk->size();
        ++chunks;
    }
    const auto records = quorix::python::read_sdf_records(text);
    require(records.size() == chunks);
    for (const auto& r : records) {
        require(r.block.has_value() != r.error.has_value());
        if (r.block) require(r.block->coords.size() == r.block->mol.num_atoms());
    }
    return 0;
}
