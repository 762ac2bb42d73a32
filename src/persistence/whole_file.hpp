// Files that are written whole or not at all.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace NES {

// Where the bytes wait until they are complete.
enum class Temporary {
    // An unnamed file (Linux O_TMPFILE) that gets a name only once it is written and on
    // the disk, so that a process killed while writing leaves nothing behind; a named
    // file where the folder's file system cannot make unnamed ones.
    unnamed_when_possible,
    // Always a named file `path.vandrel-tmp-XXXXXX` (for the tests of that path).
    named,
};

// Writes `path` through `write_to` (which returns false when a write failed) into a
// temporary file in the same folder, flushed to disk and then renamed over `path`: a
// failure (a full disk, a missing folder) leaves the previous file as it was and no
// temporary file behind, and throws NES::FileError naming `path` with `what`.
// Temporaries `path.vandrel-tmp-XXXXXX` that an earlier, killed writer left behind are removed
// first once they are clearly abandoned (see whole_file.cpp).
void write_whole_file(std::string const& path, char const* what,
                      std::function<bool(FILE*)> const& write_to,
                      Temporary temporary = Temporary::unnamed_when_possible);

} // namespace NES
