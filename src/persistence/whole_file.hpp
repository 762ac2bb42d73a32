// Files that are written whole or not at all.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace NES {

// Writes `path` through `write_to` (which returns false when a write failed) into a
// temporary file in the same folder, flushed to disk and then renamed over `path`: a
// failure (a full disk, a missing folder) leaves the previous file as it was and no
// temporary file behind, and throws NES::FileError naming `path` with `what`.
void write_whole_file(std::string const& path, char const* what,
                      std::function<bool(FILE*)> const& write_to);

} // namespace NES
