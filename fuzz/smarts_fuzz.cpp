// Reads arbitrary bytes as SMARTS; a query that reads is walked and evaluated.
#include <cstdint>
#include <string_view>

#include "io/smarts/parse.hpp"
#include "smarts_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto q = quorix::io::read_smarts(text);
    if (!q) {
        quorix::fuzz::require(q.error().pos <= q.error().input.size());
        (void)q.error().caret_view();
        return 0;
    }
    quorix::fuzz::exercise(*q);
    return 0;
}
