; UNROM 512 (mapper 30), the plain board with mapper-controlled one-screen mirroring
; (flags 6 bits 3 and 0): every 16 KiB bank at $8000 with the last fixed at $C000, the
; four 8 KiB banks of CHR RAM keeping their bytes, the one-screen page M, and bus
; conflicts on every field of MCCP PPPP, anywhere in $8000-$FFFF.

.include "board_harness.inc"

.segment "HEADER"
        .byte "NES", $1A, 32, 0, $E9, $10
        .res 8, 0

.segment "BANKS"
        prg_units 0, 62
.segment "FIXLOW"
        prg_units 62, 1
.segment "BOOT"
        prg_unit_head 63

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        jsr init
        jsr read_prg
        expect_prg 1, 0, 1, 62, 63
.repeat 32, B
        lda #B
        sta $C100 + B
        jsr read_prg
        expect_prg 10 + B, 2 * B, 2 * B + 1, 62, 63
.endrep
        lda #$07                        ; bus conflict: $07 AND $03
        sta $C103
        jsr read_prg
        expect_prg 50, 6, 7, 62, 63
        lda #$0B                        ; at $8000-$BFFF too: $0B AND $09
        sta $8109
        jsr read_prg
        expect_prg 51, 18, 19, 62, 63

        ; CHR RAM: each bank filled with its own markers, then each read back.
.repeat 4, C
        lda #C << 5
        sta $C100 + (C << 5)
        lda #8 * C
        jsr fill_chr_markers
.endrep
.repeat 4, C
        lda #(3 - C) << 5
        sta $C100 + ((3 - C) << 5)
        jsr read_chr
        expect_chr_run 60 + C, 8 * (3 - C)
.endrep

        ; One screen: M picks the page; each keeps its own byte.
        lda #$A0
        jsr write_nametables
        expect_nametables 70, $A3, $A3, $A3, $A3
        lda #$80
        sta $C180
        lda #$B0
        jsr write_nametables
        expect_nametables 71, $B3, $B3, $B3, $B3
        lda #$00
        sta $C100
        jsr read_nametables
        expect_nametables 72, $A3, $A3, $A3, $A3

        lda #$FF                        ; $FF AND $A1: M, CHR bank 1, PRG bank 1
        sta $C1A1
        jsr read_prg
        expect_prg 80, 2, 3, 62, 63
        jsr read_chr
        expect_chr_run 81, 8
        jsr read_nametables
        expect_nametables 82, $B3, $B3, $B3, $B3
        jmp finish

.segment "RAMCODE"
restore:
        rts

.segment "VECTORS"
        .word reset, reset, reset
