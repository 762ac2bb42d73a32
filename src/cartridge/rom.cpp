// iNES parsing. The header is 16 bytes: the magic "NES\x1A", PRG ROM size in 16 KiB
// units, CHR ROM size in 8 KiB units, flags 6 and 7 (the mapper number's two low
// nibbles), and (NES 2.0 only) byte 8 with the submapper and the mapper number's bits
// 8-11, and byte 9 with the high nibbles of both sizes. An optional 512-byte trainer precedes PRG
// ROM; CHR ROM follows it and anything after CHR ROM is ignored.
#include "cartridge/rom.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "cartridge/mapper_table.hpp"
#include "console/progress.hpp"
#include "persistence/file_error.hpp"

namespace NES {

namespace {

constexpr uint32_t INES_MAGIC = 0x1A53454E; // "NES\x1A" read as a little-endian word
constexpr long HEADER_SIZE = 16;
constexpr long TRAINER_SIZE = 512;

bool has_magic(unsigned char const* data) {
    uint32_t word = data[0] | data[1] << 8 | data[2] << 16 | uint32_t(data[3]) << 24;
    return word == INES_MAGIC;
}

bool is_nes2(unsigned char const* header) {
    return (header[7] & 0x0C) == 0x08;
}

// One ROM size from its header byte, the NES 2.0 high nibble and the unit. The
// exponent-multiplier form (nibble 0xF) can describe sizes far beyond 2 GiB, so sizes
// are computed in 64 bits (saturated) and checked before use.
int64_t rom_size(unsigned char low, unsigned nibble, bool nes2, int64_t unit) {
    if (!nes2) return low * unit;
    if (nibble != 0xF) return int64_t((nibble << 8) | low) * unit;
    double size = std::trunc(std::pow(2.0, low >> 2) * ((low & 3) * 2 + 1));
    return size > double(INT64_MAX / 2) ? INT64_MAX / 2 : int64_t(size);
}

// NES 2.0 numbers boards up to 4095: a number above 255 is a board of its own, never
// the board its low byte names.
uint32_t mapper_number(unsigned char const* header) {
    uint32_t const low = (header[6] >> 4) | (header[7] & 0xF0);
    return is_nes2(header) ? low | uint32_t(header[8] & 0x0F) << 8 : low;
}

int64_t declared_prg_size(unsigned char const* header) {
    return rom_size(header[4], header[9] & 0x0F, is_nes2(header), 16384);
}

int64_t declared_chr_size(unsigned char const* header) {
    return rom_size(header[5], header[9] >> 4, is_nes2(header), 8192);
}

long data_offset(unsigned char const* header) {
    return HEADER_SIZE + ((header[6] & 0x04) ? TRAINER_SIZE : 0);
}

int positive_mod(int index, int units) {
    int r = index % units;
    return r < 0 ? r + units : r;
}

// The blank cartridge: magic, one 16 KiB PRG bank, everything else zero.
std::vector<unsigned char> blank_image() {
    std::vector<unsigned char> image(HEADER_SIZE + 16384, 0);
    std::memcpy(image.data(), "NES\x1A", 4);
    image[4] = 1;
    return image;
}

} // namespace

ROM::ROM() {
    std::vector<unsigned char> image = blank_image();
    load_arr(long(image.size()), image.data());
}

ROM::ROM(long size, unsigned char const* data) {
    load_arr(size, data);
}

ROM::ROM(char const* path) {
    load_file(path);
}

namespace {

// Closes the descriptor on every way out.
class OpenFile {
public:
    explicit OpenFile(int fd) : fd(fd) {}
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
    OpenFile(OpenFile const&) = delete;
    OpenFile& operator=(OpenFile const&) = delete;

    int const fd;
};

// `size` is empty when the file grew past the limit while it was read.
std::string too_large(char const* path, std::string const& size) {
    return std::string(path) +
           (size.empty() ? ": the file holds" : ": the file is " + size + " bytes,") +
           " more than the largest iNES image (" + std::to_string(MAX_IMAGE_SIZE) + " bytes)";
}

} // namespace

// Only a regular file has a size to check before reading, so anything else (a device
// such as /dev/zero, a FIFO, a socket) is refused; opening does not block, so a FIFO
// without a writer cannot hold the caller. The read stops one byte past the largest
// image, so a file that grows meanwhile costs no more memory than that.
std::vector<unsigned char> read_whole_file(char const* path) {
    OpenFile const file(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.fd < 0) throw FileError(errno, path, "cannot open the cartridge file");
    struct stat st;
    if (fstat(file.fd, &st) != 0) throw FileError(errno, path, "cannot read the cartridge file");
    if (S_ISDIR(st.st_mode)) throw FileError(EISDIR, path, "cannot read the cartridge file");
    if (!S_ISREG(st.st_mode))
        throw std::invalid_argument(std::string(path) +
                                    ": not a regular file; a cartridge is read from an iNES file");
    if (st.st_size > MAX_IMAGE_SIZE)
        throw std::invalid_argument(too_large(path, std::to_string(st.st_size)));
    int const flags = fcntl(file.fd, F_GETFL);
    if (flags >= 0) fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK);

    size_t const limit = size_t(MAX_IMAGE_SIZE) + 1;
    std::vector<unsigned char> bytes;
    bytes.reserve(size_t(st.st_size));
    unsigned char chunk[65536];
    while (bytes.size() < limit) {
        ssize_t const n = ::read(file.fd, chunk, std::min(sizeof chunk, limit - bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw FileError(errno, path, "cannot read the cartridge file");
        if (n == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    if (bytes.size() > size_t(MAX_IMAGE_SIZE)) throw std::invalid_argument(too_large(path, ""));
    return bytes;
}

void ROM::load_file(char const* path) {
    std::vector<unsigned char> bytes = read_whole_file(path);
    load_arr(long(bytes.size()), bytes.data());
}

void ROM::check_image(long size, unsigned char const* data) {
    if (size < HEADER_SIZE)
        throw std::invalid_argument("the image is too short for an iNES header (" +
                                    std::to_string(size) + " bytes)");
    if (!has_magic(data))
        throw std::invalid_argument("not an iNES image: it does not start with \"NES\\x1A\"");
    int64_t prg = declared_prg_size(data);
    int64_t chr = declared_chr_size(data);
    if (prg == 0) throw std::invalid_argument("the image declares no PRG ROM");
    if (prg < 1024)
        throw std::invalid_argument("the image declares " + std::to_string(prg) +
                                    " bytes of PRG ROM, less than the 1 KiB bank unit");
    if (chr > 0 && chr < 1024)
        throw std::invalid_argument("the image declares " + std::to_string(chr) +
                                    " bytes of CHR ROM, less than the 1 KiB bank unit");
    if (prg > INT32_MAX || chr > INT32_MAX)
        throw std::invalid_argument("the image declares a ROM larger than 2 GiB");
    int64_t needed = data_offset(data) + prg + chr;
    if (needed > size)
        throw std::invalid_argument("the image is truncated: its header declares " +
                                    std::to_string(needed) + " bytes but it holds " +
                                    std::to_string(size));
}

void ROM::load_arr(long size, unsigned char const* data) {
    if (size < HEADER_SIZE) return;
    std::memcpy(header, data, HEADER_SIZE);
    if (!has_magic(header)) return;
    check_image(size, data);

    battery = header[6] & 0x02;
    progress("%s\n", battery ? "Battery" : "No Battery");
    nes2 = is_nes2(header);
    board = BoardFacts{uint8_t(nes2 ? header[8] >> 4 : 0), int32_t(declared_chr_size(header)),
                       header[6]};
    mapper = make_mapper(mapper_number(header), board);
    mirroring =
        mapper->power_on_mirroring((header[6] & 0x08) ? MIRROR_FOUR_SCREEN : (header[6] & 0x01));
    if (!nes2) {
        progress("iNES\n");
        progress("%i\n", header[5]);
    }
    prg_size = int32_t(declared_prg_size(header));
    chr_size = int32_t(declared_chr_size(header));

    long offset = data_offset(header);
    if (header[6] & 0x04) std::memcpy(trainer, data + HEADER_SIZE, TRAINER_SIZE);
    shared = share_image(data, size_t(offset + prg_size + chr_size));
    prg = std::span<unsigned char const>(shared->bytes.data() + offset, size_t(prg_size));
    chr =
        std::span<unsigned char const>(shared->bytes.data() + offset + prg_size, size_t(chr_size));
}

std::vector<unsigned char> ROM::image() const {
    if (!shared) return std::vector<unsigned char>(header, header + HEADER_SIZE);
    return shared->bytes;
}

std::span<unsigned char const> ROM::image_bytes() const {
    if (!shared) return std::span<unsigned char const>(header, HEADER_SIZE);
    return shared->bytes;
}

void ROM::reset_mapper() {
    uint32_t number = mapper ? mapper->number : 0;
    mapper.reset();
    mapper = make_mapper(number, board);
}

unsigned char const* ROM::get_prg_bank(int index) const {
    return prg.data() + positive_mod(index, prg_size / 1024) * 1024;
}

unsigned char const* ROM::get_chr_bank(int index) const {
    if (chr_size == 0) return chr_ram + positive_mod(index, 8) * 1024;
    return chr.data() + positive_mod(index, chr_size / 1024) * 1024;
}

// The first unit is reduced to the ROM's range before the loop, so that no bank index
// from a game or a save-state record can overflow when the copy steps through its units.
void ROM::copy_prg(signed char* dest, int index, int length) {
    if (prg_size < 1024) return;
    int const first = positive_mod(index, prg_size / 1024);
    for (int offset = 0; offset < length; offset += 1024)
        std::memcpy(dest + offset, get_prg_bank(first + offset / 1024),
                    std::min(1024, length - offset));
    prg_windows.copied(dest, first, length, prg_size / 1024);
}

// With CHR RAM the source is the PPU's own pattern memory, so a unit may be copied onto
// itself or onto another part of the same memory: memmove keeps that well defined.
void ROM::copy_chr(signed char* dest, int index, int length) {
    if (chr_size == 0 && !chr_ram) return;
    int const first = positive_mod(index, chr_size == 0 ? 8 : chr_size / 1024);
    for (int offset = 0; offset < length; offset += 1024)
        std::memmove(dest + offset, get_chr_bank(first + offset / 1024),
                     std::min(1024, length - offset));
    chr_windows.copied(dest, first, length, chr_size / 1024);
}

} // namespace NES
