// Writing the battery RAM file without ever losing the previous save.
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "console/nes_unit.hpp"
#include "persistence/file_error.hpp"

void NESUnit::write_battery_ram() {
    if (!rom->battery) return;
    std::string const path = battery_ram_path();
    std::string temp = path + ".XXXXXX";
    int const fd = mkstemp(temp.data());
    if (fd < 0) throw NES::FileError(errno, path, "cannot write the battery RAM file");
    fchmod(fd, 0644);
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        int const error = errno;
        close(fd);
        unlink(temp.c_str());
        throw NES::FileError(error, path, "cannot write the battery RAM file");
    }
    cpu->save_ram(f);
    bool ok = std::fflush(f) == 0 && !std::ferror(f) && fsync(fd) == 0;
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
        throw NES::FileError(error, path, "cannot write the battery RAM file");
    }
}
