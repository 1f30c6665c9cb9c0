#pragma once
// The one internal-error type. Engines call `internal_error` when an invariant
// breaks; the Python frame turns the exception into pyo3_runtime.PanicException.
#include <cstddef>
#include <source_location>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorix {

class InternalError : public std::runtime_error {
public:
    explicit InternalError(const std::string& message) : std::runtime_error(message) {}
};

// Writes the location and message to standard error, then throws InternalError.
[[noreturn]] void internal_error(std::string_view message,
                                 std::source_location where = std::source_location::current());

// Checked indexing: an index from a broken invariant stops the call instead of
// reading out of bounds. Use it where an index enters; inner loops may trust it.
template <class Container>
constexpr decltype(auto) at(Container& c, std::size_t i,
                            std::source_location where = std::source_location::current()) {
    if (i >= c.size()) internal_error("下标越界", where);
    return c[i];
}

}  // namespace quorix
