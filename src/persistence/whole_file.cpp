// Files written whole or not at all.
//
// The bytes go to a temporary file in the target's folder, are flushed to the disk and
// then renamed over the target, so that a reader, or the file system after a crash, sees
// the old file or the new one and never a torn one.
//
// On Linux the temporary starts out unnamed (O_TMPFILE): the kernel drops a nameless file
// with its last descriptor, so a process killed while writing leaves nothing behind. It
// gets a name `path.vandrel-tmp-XXXXXX` only once complete, because linkat cannot replace
// an existing file and rename needs a name to move; that name lives only until the rename
// right after.
// Where the folder's file system has no unnamed files, or /proc is missing so that the
// descriptor cannot be linked, the temporary is a named mkstemp file from the start.
//
// A writer killed between link and rename, or while writing a named temporary, still
// leaves its temporary. The next write of `path` removes those, but only ones clearly
// abandoned: regular files named exactly `<file name>.vandrel-tmp-` and six letters or
// digits, untouched for more than a minute. Another process may be writing the same file
// at that moment, and its temporary is younger. The marker in the name keeps a user's
// own files (`ram.backup`) out of reach; the plain `path.XXXXXX` temporaries of earlier
// versions are left alone for the same reason.
#include "persistence/whole_file.hpp"

#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "persistence/file_error.hpp"

namespace NES {

namespace {

constexpr char MARKER[] = ".vandrel-tmp-";
constexpr size_t MARKER_LENGTH = sizeof(MARKER) - 1;
constexpr size_t SUFFIX_LENGTH = 6; // as mkstemp's XXXXXX
constexpr char SUFFIX_CHARACTERS[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr time_t ABANDONED_AFTER_SECONDS = 60;
constexpr int NAME_ATTEMPTS = 100;

struct Location {
    std::string folder;
    std::string name;
};

Location locate(std::string const& path) {
    size_t const slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool is_suffix_character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// `<name>.vandrel-tmp-XXXXXX` exactly, as mkstemp or temporary_name() make them for `name`.
bool is_temporary_name_of(std::string const& entry, std::string const& name) {
    if (name.empty() || entry.size() != name.size() + MARKER_LENGTH + SUFFIX_LENGTH) return false;
    if (entry.compare(0, name.size(), name) != 0 ||
        entry.compare(name.size(), MARKER_LENGTH, MARKER) != 0)
        return false;
    for (size_t i = name.size() + MARKER_LENGTH; i < entry.size(); ++i)
        if (!is_suffix_character(entry[i])) return false;
    return true;
}

bool is_abandoned(int folder_fd, char const* entry, time_t now) {
    struct stat st;
    if (fstatat(folder_fd, entry, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    return S_ISREG(st.st_mode) && now - st.st_mtime > ABANDONED_AFTER_SECONDS;
}

// Best effort: a folder that cannot be read or an entry that cannot be removed is left
// as it is, and the write itself reports what matters.
void remove_abandoned_temporaries(Location const& location) {
    DIR* folder = opendir(location.folder.c_str());
    if (!folder) return;
    int const folder_fd = dirfd(folder);
    time_t const now = std::time(nullptr);
    while (dirent const* entry = readdir(folder))
        if (is_temporary_name_of(entry->d_name, location.name) &&
            is_abandoned(folder_fd, entry->d_name, now))
            unlinkat(folder_fd, entry->d_name, 0);
    closedir(folder);
}

std::string temporary_name(std::string const& path) {
    // Seeded once per thread; a forked child repeats its parent's names, which the
    // retries on EEXIST absorb.
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof(SUFFIX_CHARACTERS) - 2);
    std::string name = path + MARKER;
    for (size_t i = 0; i < SUFFIX_LENGTH; ++i)
        name += SUFFIX_CHARACTERS[pick(engine)];
    return name;
}

std::string proc_path(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// Whether /proc shows `fd` as itself, so that linkat can give its file a name.
bool can_be_named(int fd) {
    struct stat own, seen;
    return fstat(fd, &own) == 0 && stat(proc_path(fd).c_str(), &seen) == 0 &&
           own.st_dev == seen.st_dev && own.st_ino == seen.st_ino;
}

// An unnamed file in `folder`, or -1 when there is none to be had: then the named
// temporary takes over and meets whatever is wrong with the folder itself (missing, not
// writable, full), reporting it as it always has.
int open_unnamed(std::string const& folder) {
#ifdef O_TMPFILE
    int const fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (can_be_named(fd)) return fd;
    close(fd);
#else
    (void)folder;
#endif
    return -1;
}

// The temporary while it is written: whatever happens before it is renamed over the
// target (a failure, an exception from the writer), its stream is closed and its name,
// if it has one, removed.
class PendingFile {
public:
    PendingFile(int fd, std::string name) : fd(fd), name(std::move(name)) {}
    PendingFile(PendingFile const&) = delete;
    PendingFile& operator=(PendingFile const&) = delete;
    ~PendingFile() { discard(); }

    // Each returns 0 or the errno of the failure.
    int fill(std::function<bool(FILE*)> const& write_to);
    int name_beside(std::string const& path);
    int close();
    int rename_over(std::string const& path);

private:
    void discard();

    int fd;
    FILE* stream = nullptr;
    std::string name; // empty while the file is unnamed
};

int PendingFile::fill(std::function<bool(FILE*)> const& write_to) {
    fchmod(fd, 0644); // what a plain create would give under the usual umask
    stream = fdopen(fd, "wb");
    if (!stream) return errno;
    errno = 0;
    bool const ok =
        write_to(stream) && std::fflush(stream) == 0 && !std::ferror(stream) && fsync(fd) == 0;
    return ok ? 0 : (errno ? errno : EIO);
}

int PendingFile::name_beside(std::string const& path) {
    if (!name.empty()) return 0;
    std::string const source = proc_path(fd);
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        std::string candidate = temporary_name(path);
        if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            name = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int PendingFile::close() {
    FILE* const closing = stream;
    stream = nullptr;
    fd = -1;
    return std::fclose(closing) == 0 ? 0 : errno;
}

int PendingFile::rename_over(std::string const& path) {
    if (std::rename(name.c_str(), path.c_str()) != 0) return errno;
    name.clear();
    return 0;
}

void PendingFile::discard() {
    if (stream)
        std::fclose(stream);
    else if (fd >= 0)
        ::close(fd);
    if (!name.empty()) unlink(name.c_str());
}

// The unnamed file where there is one, else a named one beside `path`.
PendingFile open_temporary(std::string const& path, char const* what, Temporary temporary) {
    if (temporary == Temporary::unnamed_when_possible)
        if (int const fd = open_unnamed(locate(path).folder); fd >= 0) return PendingFile(fd, "");
    std::string name = path + MARKER + "XXXXXX";
    int const fd = mkstemp(name.data());
    if (fd < 0) throw FileError(errno, path, what);
    return PendingFile(fd, std::move(name));
}

} // namespace

void write_whole_file(std::string const& path, char const* what,
                      std::function<bool(FILE*)> const& write_to, Temporary temporary) {
    remove_abandoned_temporaries(locate(path));
    PendingFile file = open_temporary(path, what, temporary);
    int error = file.fill(write_to);
    if (!error) error = file.name_beside(path);
    if (!error) error = file.close();
    if (!error) error = file.rename_over(path);
    if (error) throw FileError(error, path, what);
}

} // namespace NES
