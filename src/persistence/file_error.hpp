// A failure of the file system (a cartridge that cannot be read, a folder that cannot
// be made, a save that cannot be written), kept with its errno and the path involved
// so that Python sees the matching OSError subclass with the file name.
#pragma once

#include <stdexcept>
#include <string>

namespace NES {

class FileError : public std::runtime_error {
public:
    FileError(int error_number, std::string path, std::string const& what)
        : std::runtime_error(what + ": " + path), error_number(error_number),
          path(std::move(path)) {}

    int error_number;
    std::string path;
};

} // namespace NES
