; GxROM (mapper 66): every 32 KiB PRG bank and 8 KiB CHR bank of the latch ..PP ..CC,
; the bits around them doing nothing, bus conflicts, and the header's horizontal
; mirroring.

.include "board_harness.inc"

.segment "HEADER"
        .byte "NES", $1A, 8, 4, $20, $40
        .res 8, 0

.segment "LOW"
        prg_units 0, 3
.segment "BOOT"
        prg_unit_head 3
.segment "HIGH"
        prg_units 4, 12
.segment "CHR"
        chr_units 0, 32

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        jsr init
        jsr read_prg
        jsr read_chr
        expect_prg32 1, 0
        expect_chr_run 2, 0
.repeat 4, B
        visit1 $8100 + (B << 4) + 3 - B, (B << 4) + 3 - B
        expect_prg32 10 + 2 * B, B
        expect_chr_run 11 + 2 * B, 8 * (3 - B)
.endrep
        visit1 $8100 + $DE, $DE         ; ..01 ..10 among the bits that do nothing
        expect_prg32 20, 1
        expect_chr_run 21, 8 * 2

        visit1 $8100 + $12, $33         ; bus conflict: $33 AND $12
        expect_prg32 30, 1
        expect_chr_run 31, 8 * 2

        lda #$A0                        ; horizontal: $2000 = $2400, $2800 = $2C00
        jsr write_nametables
        expect_nametables 40, $A1, $A1, $A3, $A3
        jmp finish

.segment "RAMCODE"
restore:
        lda #0
        sta $8100
        rts

.segment "VECTORS"
        .word reset, reset, reset
