; BNROM (mapper 34, NES 2.0 submapper 2): every 32 KiB bank, a bank number beyond the
; ROM showing it mirrored, bus conflicts, CHR RAM and the header's vertical mirroring.

.include "board_harness.inc"

.segment "HEADER"
        .byte "NES", $1A, 8, 0, $21, $28
        .byte $20, $00, $00, $07        ; submapper 2; 8 KiB of CHR RAM
        .res 4, 0

.segment "LOW"
        prg_units 0, 3
.segment "BOOT"
        prg_unit_head 3
.segment "HIGH"
        prg_units 4, 12

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        jsr init
        jsr read_prg
        expect_prg32 1, 0
.repeat 4, B
        visit1 $8100 + B, B
        expect_prg32 10 + B, B
.endrep
        visit1 $8105, $05               ; bank 5 of a 128 KiB ROM: bank 1
        expect_prg32 20, 1
        visit1 $8103, $06               ; bus conflict: $06 AND $03
        expect_prg32 21, 2

        lda #$40                        ; CHR RAM keeps what is written
        jsr fill_chr_markers
        jsr read_chr
        expect_chr_run 30, $40

        lda #$A0                        ; vertical: $2000 = $2800, $2400 = $2C00
        jsr write_nametables
        expect_nametables 40, $A2, $A3, $A2, $A3
        jmp finish

.segment "RAMCODE"
restore:
        lda #0
        sta $8100
        rts

.segment "VECTORS"
        .word reset, reset, reset
