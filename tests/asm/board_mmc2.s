; MMC2 (mapper 9): 8 KiB PRG banks, latch 0 reacting to the marker tiles' first rows
; only. The checks are in chr_latch_board.inc.
MAPPER          = 9
PRG_16K_BANKS   = 8             ; 128 KiB: sixteen 8 KiB banks
PRG_BANK_SIZE   = $2000
WINDOW_END      = $9FFF
LOW_WHOLE_TILES = 0

.include "chr_latch_board.inc"
