; Camerica BF9093 (mapper 71): every 16 KiB bank at $8000 from a write anywhere in
; $C000-$FFFF, the last bank fixed at $C000, no bus conflict, CHR RAM, and the mirroring:
; the header's until a write in $9000-$9FFF (where only Fire Hawk's BF9097 has its
; one-screen register; a $8000 write, which other games make at start-up, leaves it).

.include "board_harness.inc"

.segment "HEADER"
        .byte "NES", $1A, 16, 0, $71, $40
        .res 8, 0

.segment "BANKS"
        prg_units 0, 30
.segment "FIXLOW"
        prg_units 30, 1
.segment "BOOT"
        prg_unit_head 31

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        jsr init
        jsr read_prg
        expect_prg 1, 0, 1, 30, 31
.repeat 16, B
        lda #B
        sta $C100 + B
        jsr read_prg
        expect_prg 10 + B, 2 * B, 2 * B + 1, 30, 31
.endrep
        lda #$F5                        ; the upper four bits do nothing
        sta $C1F5
        jsr read_prg
        expect_prg 30, 10, 11, 30, 31
        lda #$07                        ; ROM byte 1: no conflict, bank 7
        sta $C101
        jsr read_prg
        expect_prg 31, 14, 15, 30, 31
        lda #$09                        ; $E000-$FFFF too
        sta $E109
        jsr read_prg
        expect_prg 32, 18, 19, 30, 31
        lda #$03                        ; nothing at $A000-$BFFF
        sta $A103
        jsr read_prg
        expect_prg 33, 18, 19, 30, 31

        lda #$10
        sta $8000
        lda #$A0                        ; still vertical
        jsr write_nametables
        expect_nametables 40, $A2, $A3, $A2, $A3
        lda #$00                        ; one screen from a $9000 write on
        sta $9000
        lda #$B0
        jsr write_nametables
        expect_nametables 41, $B3, $B3, $B3, $B3
        lda #$10
        sta $9000
        lda #$C0
        jsr write_nametables
        expect_nametables 42, $C3, $C3, $C3, $C3
        lda #$00
        sta $8000
        jsr read_nametables
        expect_nametables 43, $B3, $B3, $B3, $B3

        lda #$40                        ; CHR RAM keeps what is written
        jsr fill_chr_markers
        jsr read_chr
        expect_chr_run 50, $40
        jmp finish

.segment "RAMCODE"
restore:
        rts

.segment "VECTORS"
        .word reset, reset, reset
