; MMC4 (mapper 10): 16 KiB PRG banks, both latches reacting to every row of the marker
; tiles, and PRG RAM. The checks are in chr_latch_board.inc.
MAPPER          = 10
PRG_16K_BANKS   = 16            ; 256 KiB: sixteen 16 KiB banks
PRG_BANK_SIZE   = $4000
WINDOW_END      = $BFFF
LOW_WHOLE_TILES = 1

.include "chr_latch_board.inc"
