// Writing the battery RAM file without ever losing the previous save.
#include "console/nes_unit.hpp"
#include "persistence/whole_file.hpp"

// Under the claim, like the state calls: the RAM is written as the last step left it.
bool NESUnit::save_battery() {
    CallerClaim const claim(*this, "saveBattery", Reentry::share);
    write_battery_ram();
    return rom->battery;
}

void NESUnit::write_battery_ram() {
    if (!rom->battery) return;
    NES::write_whole_file(battery_ram_path(), "cannot write the battery RAM file",
                          [this](FILE* f) { return cpu->save_ram(f); });
}
