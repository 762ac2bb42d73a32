; Action 53 (mapper 28): the register select at $5000-$5FFF and the value at
; $8000-$FFFF; every PRG mode with each game size (the inner bank's low bits replacing
; the outer bank's in the switchable part, the fixed half the outer bank's own); the CHR RAM banks; the four mirrorings,
; and D4 of the CHR and inner bank registers picking the screen in the one-screen ones.
; The board powers up (here) with outer bank $FF in mode 3: the last 16 KiB at $C000.

.include "board_harness.inc"

; One register write: select, then value.
.macro reg53 select, value
        .word $5000
        .byte select
        .word $8000
        .byte value
.endmacro

; Mode (vertical mirroring), outer bank and inner bank through visit.
.macro visit53 mode, outer, inner
        jsr visit
        .byte 6
        reg53 $80, mode | 2
        reg53 $81, outer
        reg53 $01, inner
.endmacro

; A register write from the code in the last 16 KiB, which keeps its place.
.macro set53 select, value
        lda #select
        sta $5000
        lda #value
        sta $8000
.endmacro

SIZE_32K  = $00
SIZE_64K  = $10
SIZE_128K = $20
SIZE_256K = $30
PRG_32K   = $00
PRG_32K_B = $04
FIXED_LOW = $08
FIXED_TOP = $0C

.segment "HEADER"
        .byte "NES", $1A, 32, 0, $C1, $10
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
        expect_prg 1, 60, 61, 62, 63

        ; 32 KiB banks: (outer AND NOT m) OR (inner AND m), m = size / 32 KiB - 1.
        visit53 PRG_32K | SIZE_32K, 5, 7
        expect_prg32 10, 5
        visit53 PRG_32K_B | SIZE_32K, 9, 0
        expect_prg32 11, 9
        visit53 PRG_32K | SIZE_64K, 5, 2
        expect_prg32 12, 4
        visit53 PRG_32K | SIZE_128K, 5, 2
        expect_prg32 13, 6
        visit53 PRG_32K | SIZE_256K, 5, 10
        expect_prg32 14, 2
        visit53 PRG_32K | SIZE_256K, 13, 6
        expect_prg32 15, 14
        visit53 PRG_32K | SIZE_32K, $13, 0   ; beyond the ROM: mirrored
        expect_prg32 16, 3

        ; $8000 the first half of the outer bank's 32 KiB, whatever the game's size;
        ; $C000 the inner bank within the game.
        visit53 FIXED_LOW | SIZE_32K, 5, 1
        expect_prg 20, 20, 21, 22, 23
        visit53 FIXED_LOW | SIZE_32K, 5, 0
        expect_prg 21, 20, 21, 20, 21
        visit53 FIXED_LOW | SIZE_128K, 5, 5
        expect_prg 22, 20, 21, 26, 27

        ; $8000 the inner bank within the game, $C000 the second half of the outer
        ; bank's 32 KiB, whatever the game's size.
        visit53 FIXED_TOP | SIZE_32K, 5, 0
        expect_prg 30, 20, 21, 22, 23
        visit53 FIXED_TOP | SIZE_64K, 5, 2
        expect_prg 31, 20, 21, 22, 23
        visit53 FIXED_TOP | SIZE_256K, 5, 9
        expect_prg 32, 18, 19, 22, 23
        visit53 FIXED_TOP | SIZE_256K, $1F, 3
        expect_prg 33, 38, 39, 62, 63

        jsr visit                       ; only bits 7 and 0 of the select count
        .byte 4
        .word $5ABC
        .byte $7F                       ; the inner bank
        .word $8000
        .byte 3
        .word $5FFF
        .byte $FE                       ; the mode
        .word $C000
        .byte FIXED_TOP | 2
        expect_prg 34, 62, 63, 62, 63   ; inner bank 3 in a 32 KiB span: its low bit

        ; CHR RAM: each bank filled with its own markers, then each read back.
.repeat 4, C
        set53 $00, C
        lda #8 * C
        jsr fill_chr_markers
.endrep
.repeat 4, C
        set53 $00, 3 - C
        jsr read_chr
        expect_chr_run 40 + C, 8 * (3 - C)
.endrep

        ; Mirroring; the two pages keep their bytes through every change.
        lda #$A0                        ; vertical: $2000 = $2800, $2400 = $2C00
        jsr write_nametables
        expect_nametables 50, $A2, $A3, $A2, $A3
        set53 $80, FIXED_TOP | 3        ; horizontal
        jsr read_nametables
        expect_nametables 51, $A2, $A2, $A3, $A3
        set53 $80, FIXED_TOP | 1        ; the upper screen
        jsr read_nametables
        expect_nametables 52, $A3, $A3, $A3, $A3
        set53 $80, FIXED_TOP | 0        ; the lower screen
        jsr read_nametables
        expect_nametables 53, $A2, $A2, $A2, $A2
        set53 $01, $10                  ; D4 of the inner bank: the upper screen
        jsr read_nametables
        expect_nametables 54, $A3, $A3, $A3, $A3
        set53 $00, $00                  ; D4 of the CHR bank: the lower screen
        jsr read_nametables
        expect_nametables 55, $A2, $A2, $A2, $A2
        set53 $80, FIXED_TOP | 2        ; vertical, where D4 does nothing
        set53 $01, $10
        set53 $00, $10
        jsr read_nametables
        expect_nametables 56, $A2, $A3, $A2, $A3
        jmp finish

.segment "RAMCODE"
; The power-on banks: mode 3 with a 32 KiB span and vertical mirroring, outer bank $FF,
; inner bank 0.
restore:
        lda #$80
        sta $5000
        lda #FIXED_TOP | 2
        sta $8000
        lda #$81
        sta $5000
        lda #$FF
        sta $8000
        lda #$01
        sta $5000
        lda #$00
        sta $8000
        rts

.segment "VECTORS"
        .word reset, reset, reset
