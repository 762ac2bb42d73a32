// Writing the battery RAM file without ever losing the previous save.
#include "console/nes_unit.hpp"
#include "persistence/whole_file.hpp"

void NESUnit::write_battery_ram() {
    if (!rom->battery) return;
    NES::write_whole_file(battery_ram_path(), "cannot write the battery RAM file",
                          [this](FILE* f) { return cpu->save_ram(f); });
}
