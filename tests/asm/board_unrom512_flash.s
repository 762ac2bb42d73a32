; UNROM 512 (mapper 30), the self-flashing board (battery bit) with four nametables
; (flags 6 bit 3 alone): the register only at $C000-$FFFF and without bus conflicts,
; writes to $8000-$BFFF (the flash chip's) changing nothing, the CHR RAM banks, and M
; doing nothing without the one-screen wiring.

.include "board_harness.inc"

.segment "HEADER"
        .byte "NES", $1A, 8, 0, $EA, $10
        .res 8, 0

.segment "BANKS"
        prg_units 0, 14
.segment "FIXLOW"
        prg_units 14, 1
.segment "BOOT"
        prg_unit_head 15

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        jsr init
        jsr read_prg
        expect_prg 1, 0, 1, 14, 15
        lda #$03                        ; the flash chip's range
        sta $8103
        sta $BFFF
        jsr read_prg
        expect_prg 2, 0, 1, 14, 15
        lda #$05                        ; ROM byte 1: no conflict
        sta $C101
        jsr read_prg
        expect_prg 3, 10, 11, 14, 15
        lda #$06
        sta $E102
        jsr read_prg
        expect_prg 4, 12, 13, 14, 15

        lda #$60                        ; CHR bank 3, ROM byte 0: no conflict
        sta $C100
        lda #24
        jsr fill_chr_markers
        lda #$00
        sta $C100
        lda #0
        jsr fill_chr_markers
        lda #$60
        sta $C100
        jsr read_chr
        expect_chr_run 10, 24
        lda #$00
        sta $C100
        jsr read_chr
        expect_chr_run 11, 0

        lda #$A0                        ; four nametables, M or not
        jsr write_nametables
        expect_nametables 20, $A0, $A1, $A2, $A3
        lda #$80
        sta $C100
        jsr read_nametables
        expect_nametables 21, $A0, $A1, $A2, $A3
        jmp finish

.segment "RAMCODE"
restore:
        rts

.segment "VECTORS"
        .word reset, reset, reset
