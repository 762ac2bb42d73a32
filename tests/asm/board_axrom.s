; AxROM (mapper 7): every 32 KiB bank, bits beyond the three bank bits ignored, the two
; one-screen pages, CHR RAM, and no bus conflict (the board's ROM is off during the
; write on ANROM, and games on the others are run without conflicts).

.include "board_harness.inc"

.segment "HEADER"
        .byte "NES", $1A, 16, 0, $70, $00
        .res 8, 0

.segment "LOW"
        prg_units 0, 3
.segment "BOOT"
        prg_unit_head 3
.segment "HIGH"
        prg_units 4, 28

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        jsr init
        jsr read_prg
        expect_prg32 1, 0
.repeat 8, B
        visit1 $8100 + B, B
        expect_prg32 10 + B, B
.endrep
        visit1 $8100 + $EB, $EB         ; ...M .PPP: the bits around them do nothing
        expect_prg32 20, 3
        visit1 $8101, $05               ; ROM byte 1: no conflict, bank 5
        expect_prg32 21, 5

        ; One screen: the lower page, then the upper, each showing at all four
        ; nametables and keeping its own byte.
        lda #$A0
        jsr write_nametables
        expect_nametables 30, $A3, $A3, $A3, $A3
        lda #$10
        sta $8110
        lda #$B0
        jsr write_nametables
        expect_nametables 31, $B3, $B3, $B3, $B3
        lda #$00
        sta $8100
        jsr read_nametables
        expect_nametables 32, $A3, $A3, $A3, $A3
        lda #$10
        sta $8110
        jsr read_nametables
        expect_nametables 33, $B3, $B3, $B3, $B3

        lda #$40                        ; CHR RAM keeps what is written
        jsr fill_chr_markers
        jsr read_chr
        expect_chr_run 40, $40
        jmp finish

.segment "RAMCODE"
restore:
        lda #0
        sta $8100
        rts

.segment "VECTORS"
        .word reset, reset, reset
