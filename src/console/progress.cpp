#include "console/progress.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace NES {

namespace {

thread_local int quiet_scopes = 0;

} // namespace

QuietHere::QuietHere() {
    ++quiet_scopes;
}

QuietHere::~QuietHere() {
    --quiet_scopes;
}

bool quiet() {
    if (quiet_scopes > 0) return true;
    char const* const value = std::getenv("VANDREL_QUIET");
    return value && *value && std::strcmp(value, "0") != 0;
}

void progress(char const* format, ...) {
    if (quiet()) return;
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

} // namespace NES
