; Camerica BF9097 (mapper 71, NES 2.0 submapper 1, Fire Hawk): the one-screen register
; at $8000-$9FFF counts from the first write, wherever it lands, and its two pages keep
; their own bytes; the banks switch as on the BF9093.

.include "board_harness.inc"

.segment "HEADER"
        .byte "NES", $1A, 8, 0, $70, $48
        .byte $10, $00, $00, $07        ; submapper 1; 8 KiB of CHR RAM
        .res 4, 0

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
        lda #$A0                        ; the header's horizontal until the register is written:
        jsr write_nametables            ; the lower page at $2000/$2400, the upper at $2800/$2C00
        expect_nametables 1, $A1, $A1, $A3, $A3
        lda #$10                        ; the upper page as written
        sta $8000
        jsr read_nametables
        expect_nametables 2, $A3, $A3, $A3, $A3
        lda #$EF                        ; bit 4 only: the lower page
        sta $8000
        jsr read_nametables
        expect_nametables 3, $A1, $A1, $A1, $A1
        lda #$B0
        jsr write_nametables
        expect_nametables 4, $B3, $B3, $B3, $B3
        lda #$10
        sta $9FFF
        jsr read_nametables
        expect_nametables 5, $A3, $A3, $A3, $A3

        lda #$06
        sta $FFF0
        jsr read_prg
        expect_prg 10, 12, 13, 14, 15
        jmp finish

.segment "RAMCODE"
restore:
        rts

.segment "VECTORS"
        .word reset, reset, reset
