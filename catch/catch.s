; Catch, a small game cartridge of vandrel's own (mapper 0, 16 KiB PRG, 8 KiB CHR).
;
; Apples fall from the top of the screen; the basket at the bottom, moved left and
; right with the D-pad, catches them. Each apple caught is a point; each apple that
; reaches the ground costs one of the three lives, and the last one ends the game.
; Start begins a game on the title screen and a new one after GAME OVER.
;
; The apples' columns come from an eight-bit LFSR seeded with the number of frames
; spent on the title, so a game is the same every time for the same buttons. As the
; score grows they fall faster and come more often: for every ten points, up to ninety,
; a quarter of a pixel a frame more and four frames fewer between apples.
;
; Frame plan: the NMI handler copies the sprites (OAM DMA), the score, the lives and,
; when the mode has changed, the two message lines into the PPU and resets the scroll;
; the main loop waits for it, reads the pad and runs the game for the next frame. Both
; together take under 2000 cycles, so a frame's work is over before its picture begins
; (and a frame's variables are final when the emulator's frame ends, after line 261).
; Nothing depends on the exact cycle anything runs at.

.linecont +

.include "tiles.inc"

; ---------------------------------------------------------------- hardware
PPUCTRL   = $2000
PPUMASK   = $2001
PPUSTATUS = $2002
OAMADDR   = $2003
PPUSCROLL = $2005
PPUADDR   = $2006
PPUDATA   = $2007
SQ1_VOL   = $4000
SQ1_SWEEP = $4001
SQ1_LO    = $4002
SQ1_HI    = $4003
NOISE_VOL = $400C
NOISE_LO  = $400E
NOISE_HI  = $400F
DMC_FREQ  = $4010
OAMDMA    = $4014
SND_CHN   = $4015
JOY1      = $4016
APU_FRAME = $4017

CTRL_ON   = %10001000   ; NMI on, 8x8 sprites from $1000, background from $0000
MASK_ON   = %00011110   ; background and sprites, also in the leftmost eight pixels
WARM_UP_DELAY   = 15    ; 1286-cycle steps after clearing the RAM: past 29700 cycles
MID_FRAME_DELAY = 22    ; after drawing the screen: to the middle of the third frame

; Controller bits as read_pad leaves them.
PAD_START = $10
PAD_LEFT  = $02
PAD_RIGHT = $01

; ---------------------------------------------------------------- the game's numbers
TITLE     = 0           ; modes
PLAYING   = 1
OVER      = 2

FALLING   = 1           ; an apple's state (0: no apple)
MISSED    = 2           ; past the basket's rim, on its way to the ground

APPLES    = 4           ; at most this many at once
LIVES     = 3
BASKET_START_X = 116
BASKET_MIN_X   = 8
BASKET_MAX_X   = 224    ; the basket is 24 pixels wide
BASKET_STEP    = 3      ; pixels a frame
BASKET_Y       = 184    ; top line; it stands on the ground
APPLE_TOP_Y    = 32     ; where apples appear, under the score line
CATCH_Y        = 178    ; an apple this low is at the basket's rim: caught or missed
GROUND_Y       = 184    ; an apple this low lies on the ground
APPLE_MIN_X    = 8
APPLE_SPAN     = 216    ; apples appear at x 8 .. 223
CATCH_WIDTH    = 24     ; the apple's centre must be over the basket
BASE_SPEED     = 16     ; sixteenths of a pixel a frame
SPEED_STEP     = 4      ; more for every ten points
SPAWN_PERIOD   = 80     ; frames between apples at first (the basket crosses in 72)
SPAWN_STEP     = 4      ; fewer for every ten points
FIRST_SPAWN    = 32     ; frames from the start of a game to the first apple

; Screen places (nametable $2000).
NAMETABLE = $2000       ; + row * 32 + column
SCORE_AT  = NAMETABLE + 2 * 32 + 9
LIVES_AT  = NAMETABLE + 2 * 32 + 28
LINE1_AT  = NAMETABLE + 11 * 32 + 8
LINE2_AT  = NAMETABLE + 14 * 32 + 8
LINE_LENGTH = 16

.segment "HEADER"
    .byte "NES", $1A
    .byte 1             ; 16 KiB PRG ROM
    .byte 1             ; 8 KiB CHR ROM
    .byte $00           ; mapper 0, horizontal mirroring (one screen is all it shows)
    .byte $00
    .res 8, 0

; The game's variables at fixed addresses, for the gym integration's data.json.
.segment "ZEROPAGE"
nmi_count:   .res 1     ; $00 +1 per vblank
mode:        .res 1     ; $01 TITLE, PLAYING or OVER
buttons:     .res 1     ; $02 held now (bit 7 A ... bit 0 Right)
pressed:     .res 1     ; $03 went down this frame
title_ticks: .res 1     ; $04 frames on the title: the seed
random:      .res 1     ; $05 the LFSR
basket_x:    .res 1     ; $06 left edge
lives:       .res 1     ; $07
score:       .res 4     ; $08-$0B decimal digits, thousands first
speed:       .res 1     ; $0C sixteenths of a pixel a frame
spawn_wait:  .res 1     ; $0D frames to the next apple
apple_y:     .res APPLES    ; $0E top line
apple_sub:   .res APPLES    ; $12 sixteenths of a pixel
apple_x:     .res APPLES    ; $16 left edge
apple_state: .res APPLES    ; $1A 0, FALLING or MISSED
spawn_period: .res 1    ; $1E frames between apples
shown_mode:  .res 1     ; $1F the mode whose message lines are on screen, +1
.assert mode = $01 && basket_x = $06 && lives = $07 && score = $08 && speed = $0C \
        && spawn_period = $1E, error, "the integration's data.json reads these addresses"

.segment "OAM"
oam: .res 256

.segment "VECTORS"
    .addr nmi, reset, irq

.segment "CODE"

; ---------------------------------------------------------------- start-up
reset:
    sei
    cld
    ldx #$40
    stx APU_FRAME       ; no frame interrupt
    ldx #$FF
    txs
    inx
    stx PPUCTRL         ; no NMI and no picture (as at power-on)
    stx PPUMASK
    stx DMC_FREQ
    stx SND_CHN

    lda #0
    tax
@clear:
    sta $0000, x
    sta $0100, x
    sta $0300, x
    sta $0400, x
    sta $0500, x
    sta $0600, x
    sta $0700, x
    inx
    bne @clear
    lda #$FF            ; every sprite below the screen
@hide:
    sta oam, x
    inx
    bne @hide
    lda #LIVES          ; as the title shows them
    sta lives

    ; The PPU ignores its registers for about 29700 cycles after power-on. Polling
    ; PPUSTATUS for the vblank would do, but a read at the very dot the flag goes up
    ; misses that frame, so the start-up counts cycles instead and, after the screen
    ; is drawn, turns the NMI on half-way down the third frame, far from any vblank:
    ; from then on the NMI alone keeps time.
    ldx #WARM_UP_DELAY
    jsr delay
    jsr load_palettes
    jsr draw_screen
    lda #%00001001      ; pulse 1 and noise for the sounds
    sta SND_CHN
    ldx #MID_FRAME_DELAY
    jsr delay
    bit PPUSTATUS       ; an old vblank flag would raise an NMI at once
    lda #CTRL_ON
    sta PPUCTRL         ; the NMI handler turns the picture on

main_loop:
    jsr wait_nmi
    jsr read_pad
    lda mode
    cmp #PLAYING
    beq @playing
    inc title_ticks     ; counts on the title and after a game
    lda pressed
    and #PAD_START
    beq @shown
    jsr new_game
    jmp @shown
@playing:
    jsr move_basket
    jsr drop_apples
    jsr move_apples
@shown:
    jsr build_sprites
    jmp main_loop

; Waits X * 1286 cycles.
delay:
    ldy #0
@wait:
    dey
    bne @wait
    dex
    bne delay
    rts

wait_nmi:
    lda nmi_count
@wait:
    cmp nmi_count
    beq @wait
    rts

; ---------------------------------------------------------------- vblank
nmi:
    pha
    txa
    pha
    tya
    pha
    lda #0
    sta OAMADDR
    lda #>oam
    sta OAMDMA

    bit PPUSTATUS       ; reset the address latch
    lda #>SCORE_AT
    sta PPUADDR
    lda #<SCORE_AT
    sta PPUADDR
    ldx #0
@score:
    lda score, x
    ora #'0'
    sta PPUDATA
    inx
    cpx #4
    bne @score
    lda #>LIVES_AT
    sta PPUADDR
    lda #<LIVES_AT
    sta PPUADDR
    lda lives
    ora #'0'
    sta PPUDATA

    ldy mode            ; the message lines only when the mode has changed
    iny
    cpy shown_mode
    beq @lines_shown
    sty shown_mode
    dey
    lda #>LINE1_AT
    sta PPUADDR
    lda #<LINE1_AT
    sta PPUADDR
    ldx first_lines, y
    jsr copy_line
    lda #>LINE2_AT
    sta PPUADDR
    lda #<LINE2_AT
    sta PPUADDR
    ldy mode
    ldx second_lines, y
    jsr copy_line
@lines_shown:

    lda #CTRL_ON
    sta PPUCTRL
    lda #0
    sta PPUSCROLL
    sta PPUSCROLL
    lda #MASK_ON
    sta PPUMASK
    inc nmi_count
    pla
    tay
    pla
    tax
    pla
irq:
    rti

; Writes the message line at lines + X.
copy_line:
    ldy #LINE_LENGTH
@copy:
    lda lines, x
    sta PPUDATA
    inx
    dey
    bne @copy
    rts

; ---------------------------------------------------------------- drawing the screen
load_palettes:
    lda #$3F
    sta PPUADDR
    lda #$00
    sta PPUADDR
    ldx #0
@copy:
    lda palettes, x
    sta PPUDATA
    inx
    cpx #32
    bne @copy
    rts

; Clears the nametable and its attributes, then writes the pieces: each is an address
; (high byte first), a count and that many tiles, or a count + $80 and one tile to
; repeat. A 0 ends the list.
draw_screen:
    lda #$20
    sta PPUADDR
    lda #$00
    sta PPUADDR
    ldx #4
    ldy #0
    tya
@clear:
    sta PPUDATA
    iny
    bne @clear
    dex
    bne @clear

    ldx #0
@piece:
    lda pieces, x
    beq @done
    sta PPUADDR
    lda pieces + 1, x
    sta PPUADDR
    lda pieces + 2, x
    inx
    inx
    inx
    tay
    bmi @run
@tile:
    lda pieces, x
    sta PPUDATA
    inx
    dey
    bne @tile
    beq @piece
@run:
    tya
    and #$7F
    tay
    lda pieces, x
    inx
@repeat:
    sta PPUDATA
    dey
    bne @repeat
    beq @piece
@done:
    rts

; ---------------------------------------------------------------- the game
read_pad:
    lda #1
    sta JOY1            ; latch the buttons
    lda #0
    sta JOY1
    lda buttons
    eor #$FF
    sta pressed         ; buttons up before this frame
    ldx #8
@bit:
    lda JOY1            ; A, B, Select, Start, Up, Down, Left, Right
    lsr a
    rol buttons
    dex
    bne @bit
    lda buttons
    and pressed
    sta pressed
    rts

; A new game: no score, three lives, the basket in the middle, no apples. The first
; game seeds the LFSR with the frames spent on the title (never 0, where it would
; stay); later games go on with it.
new_game:
    lda random
    bne @seeded
    lda title_ticks
    bne :+
    lda #1
:   sta random
@seeded:
    lda #0
    ldx #APPLES - 1
@apple:
    sta apple_state, x
    dex
    bpl @apple
    ldx #3
@digit:
    sta score, x
    dex
    bpl @digit
    lda #BASE_SPEED
    sta speed
    lda #SPAWN_PERIOD
    sta spawn_period
    lda #LIVES
    sta lives
    lda #BASKET_START_X
    sta basket_x
    lda #FIRST_SPAWN
    sta spawn_wait
    lda #PLAYING
    sta mode
    rts

move_basket:
    lda buttons
    and #PAD_RIGHT
    beq @not_right
    lda basket_x
    cmp #BASKET_MAX_X
    bcs @not_right
    adc #BASKET_STEP    ; carry is clear
    sta basket_x
@not_right:
    lda buttons
    and #PAD_LEFT
    beq @not_left
    lda basket_x
    cmp #BASKET_MIN_X + BASKET_STEP
    bcc @not_left
    sbc #BASKET_STEP    ; carry is set
    sta basket_x
@not_left:
    rts

; Every SPAWN_PERIOD frames an apple appears at the top, in a free slot if there is one.
drop_apples:
    dec spawn_wait
    bne @done
    lda spawn_period
    sta spawn_wait
    ldx #APPLES - 1
@find:
    lda apple_state, x
    beq @free
    dex
    bpl @find
    rts
@free:
    jsr next_random
    cmp #APPLE_SPAN
    bcc :+
    sbc #APPLE_SPAN     ; carry is set
:   clc
    adc #APPLE_MIN_X
    sta apple_x, x
    lda #APPLE_TOP_Y
    sta apple_y, x
    lda #0
    sta apple_sub, x
    lda #FALLING
    sta apple_state, x
@done:
    rts

; Eight steps of the Galois LFSR x^8 + x^6 + x^5 + x^4 + 1 (period 255): a fresh byte.
next_random:
    ldy #8
    lda random
@step:
    lsr a
    bcc :+
    eor #$B8
:   dey
    bne @step
    sta random
    rts

; Moves the apples down; an apple at the rim is caught if its centre is over the
; basket, and otherwise falls on to the ground, which costs a life.
move_apples:
    ldx #APPLES - 1
@apple:
    lda apple_state, x
    beq @next
    lda apple_sub, x
    clc
    adc speed
    tay
    and #15
    sta apple_sub, x
    tya
    lsr a
    lsr a
    lsr a
    lsr a
    clc
    adc apple_y, x
    sta apple_y, x
    ldy apple_state, x
    cpy #FALLING
    bne @missed
    cmp #CATCH_Y
    bcc @next
    lda apple_x, x
    clc
    adc #4              ; the apple's centre
    sec
    sbc basket_x        ; below the basket's left edge wraps round to a large number
    cmp #CATCH_WIDTH
    bcs @miss
    lda #0
    sta apple_state, x
    jsr add_point
    jsr catch_sound
    jmp @next
@miss:
    lda #MISSED
    sta apple_state, x
    bne @next
@missed:
    cmp #GROUND_Y
    bcc @next
    lda #0
    sta apple_state, x
    lda lives
    beq @next
    dec lives
    jsr miss_sound
@next:
    dex
    bpl @apple

    lda lives
    bne @done
    lda #OVER           ; the last life: the apples go, GAME OVER shows
    sta mode
    lda #0
    ldx #APPLES - 1
@clear:
    sta apple_state, x
    dex
    bpl @clear
@done:
    rts

; One point more, up to 9999, and the falling speed and the time between apples for
; the new score. Keeps X.
add_point:
    ldy #3
@digit:
    lda score, y
    clc
    adc #1
    cmp #10
    bcc @store
    lda #0
    sta score, y
    dey
    bpl @digit
    lda #9              ; past 9999: stays at 9999
    ldy #3
@nines:
    sta score, y
    dey
    bpl @nines
    bmi @speed
@store:
    sta score, y
@speed:
    lda score           ; the tens digit, or 9 from a hundred points on
    ora score + 1
    beq :+
    lda #9
    bne :++
:   lda score + 2
:   asl a
    asl a               ; times 4, SPEED_STEP and SPAWN_STEP
    tay
    adc #BASE_SPEED     ; carry is clear
    sta speed
    sty spawn_period
    lda #SPAWN_PERIOD
    sec
    sbc spawn_period
    sta spawn_period
    rts
.assert SPEED_STEP = 4 && SPAWN_STEP = 4, error, "add_point multiplies by four"

catch_sound:
    lda #%10011000      ; duty 50 %, length counter on, constant volume 8
    sta SQ1_VOL
    lda #$08            ; no sweep
    sta SQ1_SWEEP
    lda #$A9
    sta SQ1_LO
    lda #%00010000      ; a sixth of a second, period high bits 0
    sta SQ1_HI
    rts

miss_sound:
    lda #%00011000      ; length counter on, constant volume 8
    sta NOISE_VOL
    lda #$0C
    sta NOISE_LO
    lda #%00100000      ; a third of a second
    sta NOISE_HI
    rts

; The basket (three sprites, shown once a game has begun) and the apples.
build_sprites:
    ldx #0
    ldy #0
@basket:
    lda #$FF
    bit mode            ; TITLE is 0
    beq :+
    lda #BASKET_Y - 1   ; OAM Y is one less than the top line
:   sta oam, x
    tya
    clc
    adc #BASKET
    sta oam + 1, x
    lda #0
    sta oam + 2, x
    tya
    asl a
    asl a
    asl a
    adc basket_x
    sta oam + 3, x
    inx
    inx
    inx
    inx
    iny
    cpy #3
    bne @basket

    ldy #0
@apple:
    lda #$FF
    sta oam, x
    lda apple_state, y
    beq :+
    lda apple_y, y
    sec
    sbc #1
    sta oam, x
:   lda #APPLE
    sta oam + 1, x
    lda #1
    sta oam + 2, x
    lda apple_x, y
    sta oam + 3, x
    inx
    inx
    inx
    inx
    iny
    cpy #APPLES
    bne @apple
    rts

; ---------------------------------------------------------------- data
.segment "RODATA"

palettes:
    ; background: sky; 0 text and the score line, 1 the ground
    .byte $21, $30, $10, $0F,  $21, $1A, $0A, $17,  $21, $30, $30, $30,  $21, $30, $30, $30
    ; sprites: 0 the basket, 1 the apples
    .byte $21, $27, $38, $07,  $21, $16, $1A, $30,  $21, $30, $30, $30,  $21, $30, $30, $30

.macro PIECE column, row, string
    .dbyt NAMETABLE + (row) * 32 + (column)
    .byte .strlen(string), string
.endmacro

.macro RUN column, row, count, tile
    .dbyt NAMETABLE + (row) * 32 + (column)
    .byte $80 | (count), tile
.endmacro

pieces:
    PIECE 3, 2, "SCORE 0000"
    PIECE 22, 2, "LIVES 0"
    RUN 0, 3, 32, RULE
    RUN 0, 24, 32, GRASS
    RUN 0, 25, 64, SOIL                 ; rows 25-26
    RUN 0, 27, 96, SOIL                 ; rows 27-29
    RUN 16, 31, 16, $55                 ; $23F0: the attributes of rows 24-31, palette 1
    .byte 0

; The message lines of each mode: offsets into `lines`.
first_lines:  .byte TITLE_LINE - lines, BLANK_LINE - lines, OVER_LINE - lines
second_lines: .byte START_LINE - lines, BLANK_LINE - lines, START_LINE - lines

lines:
BLANK_LINE: .byte "                "
TITLE_LINE: .byte "     CATCH!     "
OVER_LINE:  .byte "   GAME  OVER   "
START_LINE: .byte "  PRESS  START  "
.assert * - lines = 4 * LINE_LENGTH, error, "message lines are LINE_LENGTH long"
