#include "cartridge/mapper_table.hpp"

#include <cstdio>

#include "cartridge/mappers/action53.hpp"
#include "cartridge/mappers/axrom.hpp"
#include "cartridge/mappers/bnrom_nina.hpp"
#include "cartridge/mappers/camerica.hpp"
#include "cartridge/mappers/cnrom.hpp"
#include "cartridge/mappers/color_dreams.hpp"
#include "cartridge/mappers/default_mapper.hpp"
#include "cartridge/mappers/gxrom.hpp"
#include "cartridge/mappers/mmc1.hpp"
#include "cartridge/mappers/mmc2.hpp"
#include "cartridge/mappers/mmc3.hpp"
#include "cartridge/mappers/mmc4.hpp"
#include "cartridge/mappers/mmc5.hpp"
#include "cartridge/mappers/namco108.hpp"
#include "cartridge/mappers/nrom.hpp"
#include "cartridge/mappers/ntdec2722.hpp"
#include "cartridge/mappers/sunsoft_fme7.hpp"
#include "cartridge/mappers/unrom512.hpp"
#include "cartridge/mappers/uxrom.hpp"
#include "console/progress.hpp"

namespace NES {

namespace {

// NES 2.0 submappers of mapper 4: 1 the MMC6, 4 the MMC3A's alternate IRQ; any other
// (0 included) the common MMC3B/MMC3C.
MMC3::Revision mmc3_revision(uint8_t submapper) {
    switch (submapper) {
    case 1: return MMC3::Revision::mmc6;
    case 4: return MMC3::Revision::alternate;
    default: return MMC3::Revision::common;
    }
}

} // namespace

std::unique_ptr<Mapper> make_mapper(uint32_t number, BoardFacts const& facts) {
    switch (number) {
    case 0: return std::make_unique<NROM>();
    case 1: return std::make_unique<MMC1>();
    case 2: return std::make_unique<UxROM>();
    case 3: return std::make_unique<CNROM>();
    case 4: return std::make_unique<MMC3>(mmc3_revision(facts.submapper));
    case 5: return std::make_unique<MMC5>();
    case 7: return std::make_unique<AxROM>();
    case 9: return std::make_unique<MMC2>();
    case 10: return std::make_unique<MMC4>();
    case 11: return std::make_unique<ColorDreams>();
    case 28: return std::make_unique<Action53>(facts);
    case 30: return std::make_unique<Unrom512>(facts);
    case 34:
        return std::make_unique<BnromNina>(facts.submapper == 1 ||
                                           (facts.submapper != 2 && facts.chr_size > 0x2000));
    case 66: return std::make_unique<GxROM>();
    case 69: return std::make_unique<SunsoftFME7>();
    case 71: return std::make_unique<Camerica>(facts.submapper == 1);
    case 206: return std::make_unique<Namco108>();
    case 40: return std::make_unique<NTDEC2722>();
    default: progress("UNRECOGNIZED MAPPER!\n"); return std::make_unique<DEFAULT_MAPPER>(number);
    }
}

} // namespace NES
