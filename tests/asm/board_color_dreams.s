; Color Dreams (mapper 11): every 32 KiB PRG bank and 8 KiB CHR bank of the latch
; CCCC LLPP, the lockout bits LL doing nothing, bus conflicts on both fields, and the
; header's vertical mirroring.

.include "board_harness.inc"

.segment "HEADER"
        .byte "NES", $1A, 8, 16, $B1, $00
        .res 8, 0

.segment "LOW"
        prg_units 0, 3
.segment "BOOT"
        prg_unit_head 3
.segment "HIGH"
        prg_units 4, 12
.segment "CHR"
        chr_units 0, 128

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
        visit1 $8100 + B, B
        expect_prg32 10 + B, B
.endrep
.repeat 16, C                           ; from PRG bank 0, which stays
        lda #C << 4
        sta $8100 + (C << 4)
        jsr read_chr
        expect_chr_run 20 + C, 8 * C
.endrep
        lda #$2C                        ; LL = 3: CHR 2, PRG 0
        sta $812C
        jsr read_chr
        expect_chr_run 40, 8 * 2
        visit1 $812D, $2D
        expect_prg32 41, 1
        expect_chr_run 42, 8 * 2

        ; Bus conflicts: the latch takes the value AND the ROM byte.
        visit1 $8101, $03
        expect_prg32 50, 1
        lda #$F0
        sta $8150
        jsr read_chr
        expect_chr_run 51, 8 * 5

        lda #$A0                        ; vertical: $2000 = $2800, $2400 = $2C00
        jsr write_nametables
        expect_nametables 60, $A2, $A3, $A2, $A3
        jmp finish

.segment "RAMCODE"
restore:
        lda #0
        sta $8100
        rts

.segment "VECTORS"
        .word reset, reset, reset
