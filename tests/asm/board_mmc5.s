; MMC5 (ExROM, mapper 5) as a 6502 program sees it: the four PRG modes with ROM and RAM
; in the switchable windows, the eight pages of PRG RAM and their write protection, the
; four CHR modes for both register sets and the upper bank bits of $5130, the nametable
; sources (the two pages, ExRAM in each of its modes, the fill tile and colour), ExRAM
; from the CPU, the multiplier, the in-frame flag and the scanline IRQ, and in rendered
; frames (told apart by the sprite 0 hit) the register set each fetch takes with 8x16
; sprites, the extended attributes and the vertical split.
;
; The cartridge: 256 KiB of PRG ROM, 32 units of 8 KiB each starting with its number
; (board_harness.inc); the program runs from the last at $E000, which $5117 = $FF keeps
; there in every PRG mode (arrangements that move it are made and read from RAM through
; `visit`). 512 KiB of CHR ROM, 512 units of 1 KiB: unit U holds U's low byte at offset 0
; and its high byte at offset 1 (tile 0), and its tiles 1-63 are solid (first plane all
; ones) when bit 2 of U differs from bit 8, blank (all zero) otherwise. So, below unit
; 256, units 4-7, 12-15, ... are solid and 0-3, 8-11, ... blank, and a 4 KiB bank B's
; tile 5 is solid for odd B below 64 and for even B from 64 on.
;
; Reports: $A5 at $02FF when finished, the number of the first failed check at $02FE (0
; when all passed), and at $02FC-$02FD the measured IRQ arrival (below).
;
; The checks, by number:
;   1-5    PRG: power-on (mode 3, every window the last bank), then modes 3, 2, 1, 0
;          through visit: ROM numbers wrap at 32 banks, $5117's bit 7 changes nothing,
;          the 16 KiB and 32 KiB windows drop their low bits.
;   6-12   PRG RAM: write-protected at power-on; the eight pages at $6000 ($5113 bits
;          0-2); the protection keys' exact low bits; RAM pages at $8000-$DFFF in modes
;          3, 2 and 1, written there and seen again at $6000; protection there too.
;   13-22  CHR through $2007 with rendering off (the set written last is the one seen):
;          1 KiB mode sets A and B, A again after one A write, $5130 taken into a
;          register when it is written (not when it is used); 2, 4 and 8 KiB modes,
;          their bank numbers counted in their own size, sets A and B.
;   23-29  Nametables: vertical, horizontal, one-screen; page 0, page 1, ExRAM and fill
;          at once ($5105 = $E4), the fill attribute byte and the $3000 mirror; ExRAM as
;          a nametable in its modes 2 (reads 0, keeps its bytes) and 3 (read only).
;   30-32  ExRAM from the CPU: plain RAM in mode 2, read only in mode 3, $00 stored by
;          writes in modes 0 and 1 outside a frame.
;   33     The multiplier.
;   34-44  In-frame flag and scanline IRQ (background on): in-frame clear in vertical
;          blank after a rendered frame, set during one; compare 100 interrupts, its
;          $5204 read shows pending and in-frame, the second read pending no more, and it
;          arrives about 100 lines after in-frame rose; enabling with pending set
;          interrupts at once; compare 0 and 240 never interrupt; compare set to a line
;          passed already waits for the next frame; rendering switched off ends the frame
;          at once; ExRAM writes in mode 0 are kept inside the frame and give $00 after.
;   45-50  Sprite 0 hits, background everywhere the fill tile: 8x8 sprites, set A for
;          both (hit); 8x16 sprites, sprites from A and background from B (hit);
;          extended attributes with $5130 = 1 naming a solid bank for a tile blank in the
;          CHR registers (hit), and the same in ExRAM mode 0 (no hit); the split on the
;          left covering sprite 0's column (hit), then on the right (no hit).
;   51     The sound's registers: a pulse's length counter runs once loaded while
;          its channel is on ($5015 reads it), stops with the channel, and a load while
;          the channel is off is not taken.
;
; The figure at $02FC: with rendering off, the CPU is brought to the PPU's vertical
; blank start to within a dot (one $2002 read per frame, each 29781 cycles after the
; last, i.e. one dot later in the frame, until a read finds the flag set). From that
; read on everything runs a fixed number of cycles: compare 10 and the IRQ are on, the
; background is switched on in the middle of line 1 (rendering off through the
; pre-render line: no odd-frame dot skip), so the in-frame flag rises at the start of
; line 2 and the IRQ comes at the start of line 12; a run of 250 INX from X = 0 starts
; 250 cycles before it is due and the handler keeps X. $02FC = that X (high byte 0):
; the IRQ is due in the first cycle of the 126th INX, so about 126; one INX is two
; cycles. $FFFF when no IRQ came during the run.

.include "board_harness.inc"

measured     = $02FC
nmi_count    = $20
irq_count    = $21
irq_x        = $22      ; X as the IRQ handler found it
irq_status   = $23      ; (2) $5204 as the IRQ handler read it, twice
tries        = $25
scratch      = $26
frame_ctrl   = $27
oam_buffer   = $0600

PRG_MODE     = $5100
CHR_MODE     = $5101
RAM_KEY_1    = $5102    ; $02 and
RAM_KEY_2    = $5103    ; $01 allow RAM writes
EXRAM_MODE   = $5104
NAMETABLES   = $5105
FILL_TILE    = $5106
FILL_COLOUR  = $5107
RAM_6000     = $5113
PRG_8000     = $5114
PRG_A000     = $5115
PRG_C000     = $5116
PRG_E000     = $5117
CHR_A        = $5120    ; $5120-$5127
CHR_B        = $5128    ; $5128-$512B
CHR_HIGH     = $5130
SPLIT        = $5200
SPLIT_SCROLL = $5201
SPLIT_BANK   = $5202
IRQ_LINE     = $5203
IRQ_STATUS   = $5204
PRODUCT      = $5205    ; the factors written, the product read: low byte
PRODUCT_HIGH = $5206
EXRAM        = $5C00

SYNC_TRIES     = 40
MEASURE_LINE   = 10

; register = value, from the program.
.macro poke register, value
        lda #value
        sta register
.endmacro

; One of visit's register writes.
.macro item register, value
        .word register
        .byte value
.endmacro

; Check `number` fails unless Z is set (the comparison just made found its values equal).
.macro check_equal number
        beq :+
        lda #number
        jsr fail
:
.endmacro

.macro check_a value, number
        cmp #value
        check_equal number
.endmacro

; A = the byte the PPU reads at `addr` (the first $2007 read gives the buffer's old byte).
.macro ppu_read addr
        bit $2002
        lda #>(addr)
        sta $2006
        lda #<(addr)
        sta $2006
        lda $2007
        lda $2007
.endmacro

; The branch just assembled, when taken, stays in its page (a taken branch into another
; page costs a cycle more, which the exact waits below cannot have).
.macro same_page target
        .assert >(target) = >*, error, "a timed branch crosses a page"
.endmacro

; Exactly `cycles` CPU cycles of nothing: NOPs of 2 cycles, and one BIT of 3 for odd
; counts. Changes the flags.
.macro pad cycles
    .assert (cycles) <> 1, error, "no 1-cycle pad"
    .if (cycles) .mod 2
        bit $00
        .repeat ((cycles) - 3) / 2
        nop
        .endrepeat
    .else
        .repeat (cycles) / 2
        nop
        .endrepeat
    .endif
.endmacro

; Exactly `cycles` (2 or more, below 1290) through a DEY loop: LDY #C and C turns of
; DEY, BNE take 5 C + 1 cycles. Changes Y and the flags.
.macro wait_short cycles
    .local loop, turns
    .if (cycles) >= 8
      .if ((cycles) - 3) / 5 > 255
        turns = 255
      .else
        turns = ((cycles) - 3) / 5
      .endif
        ldy #turns
loop:   dey
        bne loop
        same_page loop
        pad (cycles) - 5 * turns - 1
    .else
        pad (cycles)
    .endif
.endmacro

; Exactly `cycles` (2 or more): turns of an outer loop of 1281 cycles each (LDX #A and
; A turns take 1281 A + 1), the rest through wait_short. Changes X past 1289 cycles, Y
; and the flags.
.macro wait cycles
    .local outer, inner, turns
    .if (cycles) >= 1290
        turns = ((cycles) - 9) / 1281
        ldx #turns
outer:  ldy #255
inner:  dey
        bne inner
        same_page inner
        dex
        bne outer
        same_page outer
        wait_short (cycles) - 1281 * turns - 1
    .else
        wait_short (cycles)
    .endif
.endmacro

.segment "HEADER"
        .byte "NES", $1A, 16, 64, $50, $00      ; 256 KiB PRG, 512 KiB CHR, mapper 5
        .res 8, 0

.segment "BANKS"
        prg_units 0, 31
.segment "BOOT"
        prg_unit_head 31

.segment "CHR"
.repeat 512, U
        .byte <U, >U
        .res 14, 0
    .if ((U >> 2) ^ (U >> 8)) & 1
        .repeat 63
        .res 8, $FF
        .res 8, $00
        .endrepeat
    .else
        .res 63 * 16, 0
    .endif
.endrepeat

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        lda #$40
        sta $4017               ; no APU frame IRQ: every IRQ here is the board's
        lda #0
        sta $4010
        sta $4015
        jsr init
        lda #0
        sta measured
        sta measured + 1
        sta CHR_HIGH
        sta IRQ_STATUS
        jsr check_prg
        jsr check_prg_ram
        jsr check_chr
        jsr check_nametables
        jsr check_exram
        jsr check_multiplier
        jsr check_sound
        jsr check_irq
        jsr measure_irq
        jsr check_rendering
        jsr check_split
        jmp finish

; A = the number of a failed check: kept unless an earlier one failed.
fail:
        pha
        lda first_failure
        bne @kept
        pla
        sta first_failure
        rts
@kept:  pla
        rts

; ----------------------------------------------------------------------------------------
; PRG ROM. The power-on registers show the last bank everywhere; every other arrangement
; is made and read from RAM, and `restore` brings back mode 3 with $5117 = $FF.
check_prg:
        jsr read_prg
        expect_prg 1, 31, 31, 31, 31
        jsr visit
        .byte 4
        item PRG_8000, $A5      ; ROM bank 37 of 32: 5
        item PRG_A000, $8A
        item PRG_C000, $91
        item PRG_E000, $1F      ; without bit 7 still ROM at $E000
        expect_prg 2, 5, 10, 17, 31
        jsr visit
        .byte 3
        item PRG_MODE, 2
        item PRG_A000, $8B      ; a 16 KiB window: the low bit dropped
        item PRG_C000, $94
        expect_prg 3, 10, 11, 20, 31
        jsr visit
        .byte 3
        item PRG_MODE, 1
        item PRG_A000, $8D
        item PRG_E000, $05
        expect_prg 4, 12, 13, 4, 5
        jsr visit
        .byte 2
        item PRG_MODE, 0
        item PRG_E000, $0A      ; 32 KiB: the two low bits dropped
        expect_prg 5, 8, 9, 10, 11
        rts

; ----------------------------------------------------------------------------------------
; PRG RAM: page P holds $40 + P at its first byte and $50 + P at its last.
check_prg_ram:
        lda $6000               ; whatever RAM holds at power-on stays: both keys are 0
        sta scratch
        eor #$FF
        sta $6000
        lda $6000
        cmp scratch
        check_equal 6

        poke RAM_KEY_1, 2
        poke RAM_KEY_2, 1
        ldx #7
@mark:  stx RAM_6000
        txa
        ora #$40
        sta $6000
        eor #$10
        sta $7FFF
        dex
        bpl @mark
        ldx #0
@read:  stx RAM_6000
        txa
        ora #$40
        cmp $6000
        bne @wrong_page
        eor #$10
        cmp $7FFF
        bne @wrong_page
        inx
        cpx #8
        bne @read
        poke RAM_6000, $0D      ; bits 0-2: page 5
        lda $6000
        cmp #$45
        beq @pages
@wrong_page:
        lda #7
        jsr fail
@pages:
        ; Only $5102 & 3 = 2 together with $5103 & 3 = 1 lets writes through.
        poke RAM_KEY_2, 0
        poke $6000, $11
        poke RAM_KEY_2, 1
        poke RAM_KEY_1, 3
        poke $6000, $22
        lda $6000
        check_a $45, 8
        poke RAM_KEY_1, $FE
        poke RAM_KEY_2, $FD
        poke $6000, $33
        lda $6000
        check_a $33, 8
        poke $6000, $45

        ; Mode 3: a page in each 8 KiB window (bit 7 clear), written through one.
        poke PRG_8000, $02
        poke PRG_A000, $04
        poke PRG_C000, $0F      ; bits 0-2: page 7
        jsr read_prg
        expect_prg 9, $42, $44, $47, 31
        poke $8001, $99
        poke RAM_6000, 2
        lda $6001
        check_a $99, 9

        ; Mode 2: pages 4 and 5 as 16 KiB at $8000, page 3 at $C000.
        poke PRG_MODE, 2
        poke PRG_A000, $05
        poke PRG_C000, $03
        jsr read_prg
        expect_prg 10, $44, $45, $43, 31
        poke $A001, $77
        poke $C001, $66
        poke RAM_6000, 5
        lda $6001
        check_a $77, 10
        poke RAM_6000, 3
        lda $6001
        check_a $66, 10

        ; Mode 1: pages 6 and 7 at $8000, ROM (the last 16 KiB) at $C000.
        poke PRG_MODE, 1
        poke PRG_A000, $06
        jsr read_prg
        expect_prg 11, $46, $47, 30, 31

        ; Protected again: neither $8000 nor $6000 (page 3) takes a write.
        poke RAM_KEY_1, 0
        lda #$EE
        sta $8000
        sta $6000
        lda $8000
        check_a $46, 12
        lda $6000
        check_a $43, 12
        poke PRG_MODE, 3
        rts

; ----------------------------------------------------------------------------------------
; CHR ROM through $2007, rendering off.
check_chr:
        poke CHR_MODE, 3
        poke CHR_A + 0, 3
        poke CHR_A + 1, 17
        poke CHR_A + 2, 100
        poke CHR_A + 3, 255
        poke CHR_A + 4, 0
        poke CHR_A + 5, 42
        poke CHR_A + 6, 200
        poke CHR_A + 7, 129
        jsr read_chr
        expect_chr 13, 3, 17, 100, 255, 0, 42, 200, 129
        poke CHR_B + 0, 5
        poke CHR_B + 1, 6
        poke CHR_B + 2, 7
        poke CHR_B + 3, 8
        jsr read_chr
        expect_chr 14, 5, 6, 7, 8, 5, 6, 7, 8
        poke CHR_A + 7, 129     ; set A written last again
        jsr read_chr
        expect_chr 15, 3, 17, 100, 255, 0, 42, 200, 129

        ; $5130 becomes bits 8-9 of the register written next, and stays there.
        poke CHR_HIGH, 1
        poke CHR_A + 2, $10     ; unit $110
        poke CHR_HIGH, 0
        poke CHR_A + 6, $11     ; unit $011
        jsr read_chr
        expect_chr 16, 3, 17, $10, 255, 0, 42, $11, 129
        jsr read_chr_high
        expect_chr 16, 0, 0, 1, 0, 0, 0, 0, 0
        poke CHR_HIGH, 1
        poke CHR_B + 2, $22     ; unit $122 at $0800 and $1800
        poke CHR_HIGH, 0
        jsr read_chr
        expect_chr 16, 5, 6, $22, 8, 5, 6, $22, 8
        jsr read_chr_high
        expect_chr 16, 0, 0, 1, 0, 0, 0, 1, 0

        ; 2 KiB: bank N is units 2N and 2N + 1.
        poke CHR_MODE, 2
        poke CHR_A + 1, 5
        poke CHR_A + 3, 70
        poke CHR_A + 5, 200     ; units 400 and 401
        poke CHR_A + 7, 129     ; units 258 and 259
        jsr read_chr
        expect_chr 17, 10, 11, 140, 141, 144, 145, 2, 3
        jsr read_chr_high
        expect_chr 17, 0, 0, 0, 0, 1, 1, 1, 1
        poke CHR_B + 1, 3
        poke CHR_B + 3, 100
        jsr read_chr
        expect_chr 18, 6, 7, 200, 201, 6, 7, 200, 201

        ; 4 KiB: bank N is units 4N to 4N + 3.
        poke CHR_MODE, 1
        poke CHR_A + 3, 7
        poke CHR_A + 7, 100     ; units 400-403
        jsr read_chr
        expect_chr 19, 28, 29, 30, 31, 144, 145, 146, 147
        jsr read_chr_high
        expect_chr 19, 0, 0, 0, 0, 1, 1, 1, 1
        poke CHR_B + 3, 9
        jsr read_chr
        expect_chr 20, 36, 37, 38, 39, 36, 37, 38, 39

        ; 8 KiB: set B shows the first 4 KiB of its bank in both halves.
        poke CHR_MODE, 0
        poke CHR_A + 7, 3
        jsr read_chr
        expect_chr_run 21, 24
        poke CHR_B + 3, 5
        jsr read_chr
        expect_chr 22, 40, 41, 42, 43, 40, 41, 42, 43
        poke CHR_MODE, 3
        rts

; The CHR units' high bytes (offset 1) at $0000, $0400, ..., $1C00 into seen + 4.
read_chr_high:
        ldx #0
@each:  txa
        asl a
        asl a
        bit $2002
        sta $2006
        lda #1
        sta $2006
        lda $2007               ; the read buffer's old byte
        lda $2007
        sta seen + 4, x
        inx
        cpx #8
        bne @each
        rts

; ----------------------------------------------------------------------------------------
; Nametables. $5105 = DDCCBBAA names the source of $2000, $2400, $2800, $2C00.
check_nametables:
        poke NAMETABLES, $44    ; vertical
        lda #$A0
        jsr write_nametables
        expect_nametables 23, $A2, $A3, $A2, $A3
        poke NAMETABLES, $50    ; horizontal
        jsr read_nametables
        expect_nametables 24, $A2, $A2, $A3, $A3
        poke NAMETABLES, $00
        jsr read_nametables
        expect_nametables 25, $A2, $A2, $A2, $A2
        poke NAMETABLES, $55
        jsr read_nametables
        expect_nametables 25, $A3, $A3, $A3, $A3

        ; Page 0, page 1, ExRAM (mode 0: read and written through $2007) and fill; the
        ; write to the fill quadrant goes nowhere.
        poke EXRAM_MODE, 0
        poke FILL_TILE, $37
        poke FILL_COLOUR, $02
        poke NAMETABLES, $E4
        lda #$B0
        jsr write_nametables
        expect_nametables 26, $B0, $B1, $B2, $37
        poke EXRAM_MODE, 2
        lda EXRAM
        check_a $B2, 26

        ; The fill quadrant's attribute bytes: $5107's two bits four times over.
        ppu_read $2FBF
        check_a $37, 27
        ppu_read $2FC0
        check_a $AA, 27
        ppu_read $2FFF
        check_a $AA, 27
        poke FILL_COLOUR, $FD
        ppu_read $2FC0
        check_a $55, 27
        ppu_read $3C00          ; $3000-$3EFF: $2000-$2EFF again
        check_a $37, 27
        ppu_read $3400
        check_a $B1, 27

        ; ExRAM mode 2: the PPU reads $00 and cannot write.
        lda #$C0
        jsr write_nametables
        expect_nametables 28, $C0, $C1, $00, $37
        lda EXRAM
        check_a $B2, 28
        ; ExRAM mode 3: the PPU reads it and cannot write.
        poke EXRAM_MODE, 3
        lda #$D0
        jsr write_nametables
        expect_nametables 29, $D0, $D1, $B2, $37
        lda EXRAM
        check_a $B2, 29
        rts

; ----------------------------------------------------------------------------------------
; ExRAM from the CPU, rendering off.
check_exram:
        poke EXRAM_MODE, 2
        ldx #0
@fill:  txa
        sta EXRAM, x
        eor #$FF
        sta EXRAM + $100, x
        eor #$AA
        sta EXRAM + $200, x
        eor #$FF
        sta EXRAM + $300, x
        inx
        bne @fill
@read:  txa
        cmp EXRAM, x
        bne @bad
        eor #$FF
        cmp EXRAM + $100, x
        bne @bad
        eor #$AA
        cmp EXRAM + $200, x
        bne @bad
        eor #$FF
        cmp EXRAM + $300, x
        bne @bad
        inx
        bne @read
        beq @good
@bad:   lda #30
        jsr fail
@good:
        poke EXRAM_MODE, 3
        poke EXRAM + 5, $EE     ; read only
        lda EXRAM + 5
        check_a 5, 31
        ; Modes 0 and 1 outside a frame: the write stores $00.
        poke EXRAM_MODE, 1
        poke EXRAM + 6, $EE
        poke EXRAM_MODE, 0
        poke EXRAM + 7, $EE
        poke EXRAM_MODE, 2
        lda EXRAM + 6
        check_a 0, 32
        lda EXRAM + 7
        check_a 0, 32
        rts

check_multiplier:
        poke PRODUCT, $FF
        poke PRODUCT_HIGH, $FF
        lda PRODUCT
        check_a $01, 33
        lda PRODUCT_HIGH
        check_a $FE, 33
        poke PRODUCT, 13
        poke PRODUCT_HIGH, 200  ; 2600
        lda PRODUCT
        check_a $28, 33
        lda PRODUCT_HIGH
        check_a $0A, 33
        rts

; Pulse 1 at $5000-$5003 and pulse 2 at $5004-$5007, enabled by $5015 bits 0-1, whose
; read shows which length counters run. A length index of 1 loads 254: no 240 Hz clock
; can run it out here.
check_sound:
        poke $5015, $01         ; pulse 1 on, pulse 2 off
        poke $5000, $30         ; length running (no halt), constant volume 0
        poke $5002, $FF
        poke $5003, $08         ; length index 1
        poke $5007, $08         ; pulse 2 is off: not taken
        lda $5015
        and #$03
        check_a $01, 51
        poke $5015, $00         ; off: the counter is cleared
        lda $5015
        and #$03
        check_a $00, 51
        rts

; ----------------------------------------------------------------------------------------
; The in-frame flag and the scanline IRQ, the background on from one vertical blank on
; (NMI on: wait_nmi returns early in vertical blank).
check_irq:
        poke IRQ_LINE, 0
        lda IRQ_STATUS
        poke EXRAM_MODE, 0
        poke $2000, $80
        jsr wait_nmi
        poke $2001, $08
        jsr wait_nmi            ; a whole frame drawn, and line 240 passed
        lda IRQ_STATUS
        and #$40
        check_a 0, 34
        jsr wait_in_frame
        lda IRQ_STATUS
        and #$40
        check_a $40, 35

        ; Compare 100, the IRQ on from vertical blank; lines counted from in-frame's rise
        ; in turns of 114 cycles.
        jsr wait_nmi
        poke IRQ_LINE, 100
        lda IRQ_STATUS          ; nothing pending
        poke IRQ_STATUS, $80
        lda #0
        sta irq_count
        cli
        jsr wait_in_frame
        ldx #0
count_line:
        wait 104
        inx
        beq count_late
        lda irq_count
        beq count_line
        same_page count_line
count_late:
        sei
        stx scratch
        lda irq_count
        check_a 1, 36
        lda irq_status
        and #$C0
        check_a $C0, 37         ; pending, in frame
        lda irq_status + 1
        and #$C0
        check_a $40, 37         ; the read acknowledged it
        lda scratch
        cmp #97
        bcc @far
        cmp #103
        bcc @near
@far:   lda #38
        jsr fail
@near:

        ; The IRQ off while line 20 passes, on at about line 40: at once.
        jsr wait_nmi
        poke IRQ_STATUS, 0
        poke IRQ_LINE, 20
        lda #0
        sta irq_count
        cli
        jsr wait_in_frame
        wait 4560
        lda irq_count
        check_a 0, 39
        poke IRQ_STATUS, $80
        nop
        nop
        sei
        lda irq_count
        check_a 1, 39

        ; Compare 0 and compare 240: no IRQ in a whole frame.
        lda #0
        jsr irq_frame
        check_a 0, 40
        lda #240
        jsr irq_frame
        check_a 0, 40

        ; Compare 50 set at about line 100: nothing before vertical blank, the IRQ in the
        ; next frame.
        jsr wait_nmi
        poke IRQ_STATUS, 0
        lda IRQ_STATUS
        lda #0
        sta irq_count
        jsr wait_in_frame
        wait 11400
        poke IRQ_LINE, 50
        poke IRQ_STATUS, $80
        cli
        jsr wait_nmi
        lda irq_count
        check_a 0, 41
        jsr wait_nmi
        sei
        lda irq_count
        check_a 1, 42

        ; Rendering switched off in the frame ends it at once; ExRAM writes in mode 0 are
        ; kept while in frame and store $00 after.
        poke IRQ_STATUS, 0
        poke EXRAM_MODE, 2
        lda #$77
        sta EXRAM + $10
        sta EXRAM + $11
        poke EXRAM_MODE, 0
        jsr wait_nmi
        jsr wait_in_frame
        poke EXRAM + $10, $BC
        poke $2001, 0
        lda IRQ_STATUS
        and #$40
        check_a 0, 43
        poke EXRAM + $11, $CD
        poke EXRAM_MODE, 2
        lda EXRAM + $10
        check_a $BC, 44
        lda EXRAM + $11
        check_a 0, 44
        rts

; One frame, vertical blank to vertical blank, with the IRQ on at compare A; A = the
; number of IRQs taken.
irq_frame:
        sta IRQ_LINE
        jsr wait_nmi
        lda IRQ_STATUS          ; nothing pending
        poke IRQ_STATUS, $80
        lda #0
        sta irq_count
        cli
        jsr wait_nmi
        sei
        poke IRQ_STATUS, 0
        lda irq_count
        rts

; From vertical blank: returns once $5204 shows the frame under way (at most some 45000
; cycles later).
wait_in_frame:
        ldy #16
        ldx #0
@poll:  bit IRQ_STATUS
        bvs @seen
        dex
        bne @poll
        dey
        bne @poll
@seen:  rts

wait_nmi:
        lda nmi_count
@same:  cmp nmi_count
        beq @same
        rts

; ----------------------------------------------------------------------------------------
; The IRQ's arrival to the cycle (see the header). NMI off; rendering off until the
; background goes on in line 1. Its segment starts a page, so that the timed loops' taken
; branches stay in theirs.
.segment "TIMED"
measure_irq:
        lda #0
        sta $2000
        sta $2001
        sta irq_count
        poke IRQ_LINE, MEASURE_LINE
        poke IRQ_STATUS, $80    ; no line starts while rendering is off: nothing pending
        poke tries, SYNC_TRIES
        bit $2002
sync_coarse:
        bit $2002               ; the flag seen up to 7 cycles after it rose
        bpl sync_coarse
        same_page sync_coarse
        ; To the first fine read: 2 + 29757 + 3 + 5 + 2 + 4 = 29773 cycles, 7 2/3 less
        ; than a frame, so at most 7 2/3 cycles before the flag rises.
        wait 29757
        jmp sync_join
sync_fine:
        wait 29767              ; 3 + 29767 + 5 + 2 + 4 = 29781 from read to read
sync_join:
        dec tries
        beq synced              ; not in step after SYNC_TRIES frames: going on
        bit $2002
        bpl sync_fine
        same_page sync_fine
synced:
        ; That read was at line 241 dot 1, give or take a dot; counting its cycle as 0,
        ; the $2001 write ends cycle 2 + 4 + 2 + 2543 + 2 + 4 = 2557, line 1 dot ~170.
        lda IRQ_STATUS
        cli
        wait 2543
        lda #$08
        sta $2001
        ; The first INX starts at cycle 2557 + 941 + 2 + 1 = 3501; the IRQ is due at line
        ; 12 dot 2, cycle 3751.
        wait 941
        ldx #0
        .repeat 250
        inx
        .endrepeat
        sei
        lda #0
        sta $2001
        sta IRQ_STATUS
        lda IRQ_STATUS
        lda irq_count
        beq @none
        lda irq_x
        sta measured
        lda #0
        sta measured + 1
        rts
@none:  lda #$FF
        sta measured
        sta measured + 1
        rts

.segment "CODE"

; ----------------------------------------------------------------------------------------
; Sprite 0 (tile $02, 8 pixels from x = 100, line 100 down) over a background of the fill
; tile; a hit tells that both were drawn from solid patterns. CHR in 1 KiB units: sprite
; tile $02 lies in the first 1 KiB ($5120 / $5128), background tile $45 at $1000 in the
; sixth ($5125 / $5129), tile $05 at $1000 in the fifth ($5124 / $5128).
check_rendering:
        poke $2000, $80
        poke CHR_MODE, 3
        poke CHR_HIGH, 0
        poke EXRAM_MODE, 0
        poke NAMETABLES, $FF    ; fill everywhere
        poke FILL_TILE, $45
        poke FILL_COLOUR, 0
        lda #$FF
        ldx #0
@hide:  sta oam_buffer, x
        inx
        bne @hide
        poke oam_buffer + 0, 99
        poke oam_buffer + 1, $02
        poke oam_buffer + 2, 0
        poke oam_buffer + 3, 100
        poke CHR_A + 0, 4       ; solid
        poke CHR_B + 0, 8       ; blank

        ; 8x8 sprites: set A for everything.
        poke CHR_A + 5, 13      ; solid
        poke CHR_B + 1, 9       ; blank
        lda #$90
        jsr draw_frame
        check_a $40, 45
        ; 8x16 sprites: the sprites' patterns from set A, the background's from set B.
        poke CHR_A + 5, 1       ; blank
        poke CHR_B + 1, 12      ; solid
        lda #$B0
        jsr draw_frame
        check_a $40, 46

        ; Extended attributes: tile $05 is blank in unit 2 ($5124), solid in 4 KiB bank
        ; 66 (ExRAM's $02 with $5130 = 1 above it), blank in bank 2.
        poke FILL_TILE, $05
        poke CHR_A + 4, 2
        lda #$02
        jsr fill_exram
        poke EXRAM_MODE, 1
        poke CHR_HIGH, 1
        lda #$90
        jsr draw_frame
        check_a $40, 47
        poke EXRAM_MODE, 0
        lda #$90
        jsr draw_frame
        check_a 0, 48
        rts

; The vertical split, threshold 16 tiles, its tiles $05 from ExRAM drawn from 4 KiB bank
; 1 (solid), the rest of the background tile $05 from unit 2 (blank). Sprite 0 lies in
; tile columns 12-13.
check_split:
        poke CHR_HIGH, 0
        lda #$05
        jsr fill_exram
        poke EXRAM_MODE, 0
        poke SPLIT_BANK, 1
        poke SPLIT_SCROLL, 0
        poke SPLIT, $80 | 16    ; the columns left of 16
        lda #$90
        jsr draw_frame
        check_a $40, 49
        poke SPLIT, $C0 | 16    ; the columns right of it
        lda #$90
        jsr draw_frame
        check_a 0, 50
        poke SPLIT, 0
        rts

; ExRAM in its plain RAM mode, every byte A.
fill_exram:
        ldx #2
        stx EXRAM_MODE
        ldx #0
@each:  sta EXRAM, x
        sta EXRAM + $100, x
        sta EXRAM + $200, x
        sta EXRAM + $300, x
        inx
        bne @each
        rts

; One frame drawn (background and sprites, left columns too) with PPUCTRL = A, from
; oam_buffer; A = $40 when sprite 0 hit the background, else 0.
draw_frame:
        sta frame_ctrl
        lda #0
        sta $2003
        lda #>oam_buffer
        sta $4014
        jsr wait_nmi
        bit $2002
        lda #0
        sta $2005
        sta $2005
        lda frame_ctrl
        sta $2000
        poke $2001, $1E
        ; $2002 read every 9 cycles for some 16000 cycles, as a game polling for its hit
        ; would, stopping well before vertical blank.
        ldy #7
        ldx #0
@poll:  bit $2002
        dex
        bne @poll
        dey
        bne @poll
        jsr wait_nmi
        lda $2002
        ldx #0
        stx $2001
        ldx #$80
        stx $2000
        and #$40
        rts

nmi:
        inc nmi_count
        rti

irq:
        stx irq_x
        pha
        lda IRQ_STATUS
        sta irq_status
        lda IRQ_STATUS
        sta irq_status + 1
        inc irq_count
        pla
        rti

.segment "RAMCODE"
; The program's banks: mode 3, the last bank at $E000.
restore:
        lda #3
        sta PRG_MODE
        lda #$FF
        sta PRG_E000
        rts

.segment "VECTORS"
        .word nmi, reset, irq
