#include "core/error.hpp"

#include <cstdio>
#include <string>

namespace quorix {

void internal_error(std::string_view message, std::source_location where) {
    std::string report = "quorix: internal error at ";
    report += where.file_name();
    report += ':';
    report += std::to_string(where.line());
    report += ": ";
    report += message;
    report += '\n';
    std::fwrite(report.data(), 1, report.size(), stderr);
    std::fflush(stderr);
    throw InternalError(std::string(message));
}

}  // namespace quorix
