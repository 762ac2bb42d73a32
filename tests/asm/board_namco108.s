; Namco 108 (mapper 206): every 8 KiB bank in R6 ($8000) and R7 ($A000) with the last two
; fixed at $C000 and $E000, the 2 KiB (R0, R1) and 1 KiB (R2-R5) CHR banks, the two
; registers mirrored through $8000-$9FFF by address bit 0, nothing at $A000-$FFFF (no
; mirroring control: the header's vertical stands), and no bus conflict.

.include "board_harness.inc"

; R`number` = value, through $8000/$8001.
.macro bank_register number, value
        lda #number
        sta $8000
        lda #value
        sta $8001
.endmacro

.segment "HEADER"
        .byte "NES", $1A, 8, 8, $E1, $C0
        .res 8, 0

.segment "BANKS"
        prg_units 0, 14
.segment "FIXLOW"
        prg_units 14, 1
.segment "BOOT"
        prg_unit_head 15
.segment "CHR"
        chr_units 0, 64

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        jsr init
.repeat 16, B
        bank_register 6, B
        bank_register 7, 15 - B
        jsr read_prg
        expect_prg 10 + B, B, 15 - B, 14, 15
.endrep
        bank_register 6, $C5            ; six bank bits: 5 of this ROM's sixteen
        jsr read_prg
        expect_prg 30, 5, 0, 14, 15
        lda #7                          ; a mirror of the pair
        sta $9FFE
        lda #9
        sta $9FFF
        jsr read_prg
        expect_prg 31, 5, 9, 14, 15
        lda #6                          ; ROM bytes 6 and 1: no conflict, bank 3
        sta $8106
        lda #3
        sta $8101
        jsr read_prg
        expect_prg 32, 3, 9, 14, 15

        bank_register 0, 5              ; a 2 KiB bank's low bit does nothing
        bank_register 1, 9
        bank_register 2, 33
        bank_register 3, 40
        bank_register 4, 51
        bank_register 5, 63
        jsr read_chr
        expect_chr 40, 4, 5, 8, 9, 33, 40, 51, 63
        bank_register 0, 62
        bank_register 1, 0
        bank_register 2, 1
        bank_register 3, 2
        bank_register 4, 3
        bank_register 5, $47
        jsr read_chr
        expect_chr 41, 62, 63, 0, 1, 1, 2, 3, 7

        ldx #6                          ; nothing answers at $A000-$FFFF
        ldy #12
        stx $A000
        sty $A001
        stx $C000
        sty $C001
        stx $E000
        sty $E001
        jsr read_prg
        expect_prg 50, 3, 9, 14, 15
        lda #$A0                        ; vertical: $2000 = $2800, $2400 = $2C00
        jsr write_nametables
        expect_nametables 51, $A2, $A3, $A2, $A3
        jmp finish

.segment "RAMCODE"
restore:
        rts

.segment "VECTORS"
        .word reset, reset, reset
