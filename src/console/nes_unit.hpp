// NESUnit is one console: it owns the cartridge, the CPU, the PPU, the APU and two
// built-in controllers, wires them together and steps them. The step is the unit of
// time of the whole emulator: one CPU instruction, then the APU (one step per two CPU
// cycles) and the PPU (three dots per CPU cycle) catch up with it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "apu/apu.hpp"
#include "cartridge/rom.hpp"
#include "cpu/controller.hpp"
#include "cpu/cpu.hpp"
#include "ppu/ppu.hpp"

namespace pybind11 {
class object;
}

class NESUnit {
public:
    // A console with the built-in blank cartridge.
    explicit NESUnit(int speed);
    // A console built from an iNES file. A file that cannot be read raises
    // NES::FileError and a malformed image std::invalid_argument, both before any
    // save folder is made.
    NESUnit(char const* rom_name, int speed);
    // A console built from the bytes that a Python file object's read() returns; its
    // "name" attribute names the save folder. Defined with the Python bindings.
    NESUnit(pybind11::object rom_file, int speed);
    ~NESUnit();
    NESUnit(NESUnit const&) = delete;
    NESUnit& operator=(NESUnit const&) = delete;

    int64_t start_time = 0;
    std::function<void()> perframefunc = [] {}; // called once per completed frame
    int64_t pause_start = 0;
    std::string save_dir; // where save-state files go
    // This console's cartridge folder, fixed when it is built: its battery RAM lives
    // here, whatever consoles are built after it.
    std::string config_dir;
    NES::Controller controller1;
    NES::Controller controller2;
    std::unique_ptr<NES::CPU> cpu;
    std::unique_ptr<NES::PPU> ppu;
    std::unique_ptr<NES::APU> apu;
    std::unique_ptr<NES::ROM> rom;

    void single_cycle();
    void runFrame();
    int64_t cycle_count() const { return cpu->cycles; }
    int64_t frame_count() const { return int64_t(ppu->frame_count); }
    // Plugs a controller into port 0 ($4016) or 1 ($4017); the port number is taken
    // modulo 256 and anything but 0 or 1 is refused with std::invalid_argument. The
    // console does not own the controller.
    void setController(NES::Controller& controller, int port);

    // Save folders and battery RAM.
    void detectOS(char const* path);
    bool setSaveDir(std::string dir);
    std::string getSaveDir() const { return save_dir; }
    std::string battery_ram_path() const;
    // Writes the battery RAM of a battery-backed cartridge so that a failed write (a
    // full disk) never costs the previous save: the bytes go to a temporary file in the
    // same folder, which then replaces the old file in one rename.
    void write_battery_ram();

private:
    void build_parts(int speed);
    void attach_cartridge();
};
