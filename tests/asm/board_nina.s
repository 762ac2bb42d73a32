; NINA-001/002 (mapper 34 with CHR ROM): the 32 KiB PRG bank at $7FFD, the 4 KiB CHR
; banks at $7FFE and $7FFF, the PRG RAM the registers overlay (a read returns the last
; value written), writes to $8000-$FFFF doing nothing, and the header's horizontal
; mirroring.

.include "board_harness.inc"

.segment "HEADER"
        .byte "NES", $1A, 8, 8, $20, $20
        .res 8, 0

.segment "LOW"
        prg_units 0, 3
.segment "BOOT"
        prg_unit_head 3
.segment "HIGH"
        prg_units 4, 12
.segment "CHR"
        chr_units 0, 64

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
        visit1 $7FFD, B
        expect_prg32 10 + B, B
.endrep
.repeat 16, C
        lda #C
        sta $7FFE
        lda #$F0 | (15 - C)             ; the upper four bits do nothing
        sta $7FFF
        jsr read_chr
        expect_chr 20 + C, 4*C, 4*C+1, 4*C+2, 4*C+3, 4*(15-C), 4*(15-C)+1, 4*(15-C)+2, 4*(15-C)+3
.endrep
        visit1 $8101, $01               ; no register there
        expect_prg32 40, 0

        lda #$5A                        ; PRG RAM, and the registers read as RAM
        sta $6000
        lda #$C3
        sta $7FFC
        lda $6000
        sta seen
        lda $7FFC
        sta seen + 1
        lda $7FFE
        sta seen + 2
        lda $7FFF
        sta seen + 3
        expect_prg 41, $5A, $C3, 15, $F0

        lda #$A0                        ; horizontal: $2000 = $2400, $2800 = $2C00
        jsr write_nametables
        expect_nametables 50, $A1, $A1, $A3, $A3
        jmp finish

.segment "RAMCODE"
restore:
        lda #0
        sta $7FFD
        rts

.segment "VECTORS"
        .word reset, reset, reset
