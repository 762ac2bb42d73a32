#include "persistence/whole_file.hpp"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "persistence/file_error.hpp"

namespace NES {

void write_whole_file(std::string const& path, char const* what,
                      std::function<bool(FILE*)> const& write_to) {
    std::string temp = path + ".XXXXXX";
    int const fd = mkstemp(temp.data());
    if (fd < 0) throw FileError(errno, path, what);
    fchmod(fd, 0644); // what a plain create would give under the usual umask
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        int const error = errno;
        close(fd);
        unlink(temp.c_str());
        throw FileError(error, path, what);
    }
    errno = 0;
    bool ok = write_to(f) && std::fflush(f) == 0 && !std::ferror(f) && fsync(fd) == 0;
    int error = ok ? 0 : (errno ? errno : EIO);
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        throw FileError(error, path, what);
    }
}

} // namespace NES
