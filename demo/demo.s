; The vandrel demo cartridge (mapper 0, 16 KiB PRG, 8 KiB CHR).
;
; It shows what the emulator draws and plays: a status panel with 8x8 sprites above a
; playfield that scrolls through two nametables, split at the sprite-0 hit, where the
; sprites also switch to 8x16; flipped sprites; attribute colours; a tune on all five
; sound channels (two pulses, one with sweep bends, triangle bass, noise drums and a
; DMC kick drum). The D-pad moves the hero, A and B make sounds, Start pauses.
;
; Frame plan: the NMI handler copies the sprites and the status line into the PPU and
; points the top of the next frame at the unscrolled panel. The main loop then waits
; for sprite 0, which sits behind the panel's bottom border, to hit the background,
; sets the playfield's scroll and 8x16 sprites for the rest of the frame, and runs the
; game and the music for the next one.

.linecont +           ; long pixel-art and table lines continue with a backslash

.include "tiles.inc"
.include "screen.inc"
.include "music.inc"

; ---------------------------------------------------------------- hardware
PPUCTRL   = $2000
PPUMASK   = $2001
PPUSTATUS = $2002
OAMADDR   = $2003
PPUSCROLL = $2005
PPUADDR   = $2006
PPUDATA   = $2007

SQ1_VOL   = $4000       ; duty, halt, constant volume, volume
SQ1_SWEEP = $4001
SQ1_LO    = $4002
SQ1_HI    = $4003
SQ2_VOL   = $4004
SQ2_SWEEP = $4005
SQ2_LO    = $4006
SQ2_HI    = $4007
TRI_LINEAR = $4008
TRI_LO    = $400A
TRI_HI    = $400B
NOISE_VOL = $400C
NOISE_LO  = $400E
NOISE_HI  = $400F
DMC_FREQ  = $4010
DMC_RAW   = $4011
DMC_START = $4012
DMC_LEN   = $4013
OAMDMA    = $4014
SND_CHN   = $4015
JOY1      = $4016
APU_FRAME = $4017

; PPUCTRL: NMI on; the panel has 8x8 sprites from the $1000 table, the playfield 8x16
; sprites (which pick their table by tile number) and the scroll's nametable bit.
CTRL_PANEL     = %10001000
CTRL_PLAYFIELD = %10100000
; PPUMASK: background and sprites on, also in the leftmost eight pixels.
MASK_ALL       = %00011110

; Controller bits as read_pad leaves them.
PAD_A      = $80
PAD_B      = $40
PAD_SELECT = $20
PAD_START  = $10
PAD_UP     = $08
PAD_DOWN   = $04
PAD_LEFT   = $02
PAD_RIGHT  = $01

; Sprite attribute bits.
FLIP_V      = $80
FLIP_H      = $40
BEHIND      = $20

; Where things are, in pixels. A sprite's OAM Y is one less than its top line.
SPLIT_Y     = 24        ; sprite 0 touches line 25, inside the border (lines 24-31)
SPLIT_X     = 16
NOTE_X      = 12
NOTE_Y      = 7
HERO_MIN_X  = 8
HERO_MAX_X  = 232
HERO_MIN_Y  = 40        ; keeps the hero below the split, where sprites are 8x16
HERO_MAX_Y  = 200
CRITTER_Y   = 24 * 8 - 16 - 1   ; standing on the grass
CRITTER_MIN_X = 24
CRITTER_MAX_X = 216
ARROW_X     = 228
ARROW_Y     = 48

; Sound settings.
DUTY_HALF    = %10110000        ; duty 50 %, length halted, constant volume
DUTY_QUARTER = %01110000        ; duty 25 %
SWEEP_OFF    = $08
SWEEP_PEW    = %10010010        ; on, every other half frame, period += period / 4
SWEEP_ZAP    = %10001011        ; on, every half frame, period -= period / 8 (rises)
MELODY_VOLUME  = 11
MELODY_SUSTAIN = 5
PLUCK_VOLUME   = 9
CHANNELS_ON    = %00001111      ; pulses, triangle, noise
ZAP_FRAMES     = 20
BOOM_FRAMES    = 45

.segment "HEADER"
    .byte "NES", $1A
    .byte 1             ; 16 KiB PRG ROM
    .byte 1             ; 8 KiB CHR ROM
    .byte $01           ; mapper 0, vertical mirroring (nametables side by side)
    .byte $00
    .res 8, 0

.segment "ZEROPAGE"
nmi_count:     .res 1   ; +1 per vblank
ticks:         .res 1   ; +1 per frame while not paused
buttons:       .res 1   ; held now
pressed:       .res 1   ; went down this frame
paused:        .res 1
scroll_x:      .res 1
scroll_page:   .res 1   ; 0 left nametable, 1 right
hero_x:        .res 1
hero_y:        .res 1
hero_facing:   .res 1   ; 0 right, FLIP_H left
critter_x:     .res 1
critter_facing: .res 1
music_row:     .res 2   ; pointer into the tune
music_wait:    .res 1   ; frames until the next row
music_beat:    .res 1   ; rows played, for the note icon
melody_volume: .res 1
pluck_volume:  .res 1
zap_time:      .res 1   ; frames left of the A sound (it owns pulse 2)
boom_time:     .res 1   ; frames left of the B sound (it owns the noise)
row:           .res 4   ; the row being played: pulse 1, pulse 2, triangle, drums
pointer:       .res 2

.segment "OAM"
oam: .res 256

.segment "BSS"
status_line: .res STATUS_LINE_LENGTH

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
    stx PPUCTRL         ; no NMI and no picture while video memory is filled
    stx PPUMASK
    stx DMC_FREQ
    stx SND_CHN
    bit PPUSTATUS
    jsr wait_vblank     ; the PPU takes two frames to wake up

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
    lda #$FF            ; every sprite below the screen until placed
@hide:
    sta oam, x
    inx
    bne @hide

    jsr wait_vblank
    jsr load_palettes
    jsr draw_screen
    jsr start_game
    jsr build_sprites
    jsr build_status_line
    lda #0
    sta OAMADDR
    lda #>oam
    sta OAMDMA

    jsr wait_vblank
    lda #CTRL_PANEL
    sta PPUCTRL
    lda #0
    sta PPUSCROLL
    sta PPUSCROLL
    lda #MASK_ALL
    sta PPUMASK

main_loop:
    jsr wait_nmi
    jsr split_screen
    jsr read_pad
    jsr toggle_pause
    lda paused
    bne @still
    inc ticks
    jsr scroll_playfield
    jsr move_hero
    jsr move_critter
    jsr sound_effects
    jsr play_music
@still:
    jsr build_sprites
    jsr build_status_line
    jmp main_loop

wait_vblank:
    bit PPUSTATUS
    bpl wait_vblank
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
    lda #0
    sta OAMADDR
    lda #>oam
    sta OAMDMA

    bit PPUSTATUS       ; reset the address latch
    lda #>STATUS_LINE_ADDRESS
    sta PPUADDR
    lda #<STATUS_LINE_ADDRESS
    sta PPUADDR
    ldx #0
@copy:
    lda status_line, x
    sta PPUDATA
    inx
    cpx #STATUS_LINE_LENGTH
    bne @copy

    lda #CTRL_PANEL     ; the next frame starts with the unscrolled panel
    sta PPUCTRL
    lda #0
    sta PPUSCROLL
    sta PPUSCROLL
    inc nmi_count
    pla
    tax
    pla
irq:
    rti

; Waits for this frame's sprite-0 hit at the panel's border, then scrolls the rest of
; the frame and makes its sprites 8x16. The border's rows are the same all along, so
; the few pixels of the hit line drawn after the change look no different.
split_screen:
@wait_for_last_frames_hit_to_clear:
    bit PPUSTATUS
    bvs @wait_for_last_frames_hit_to_clear
@wait_for_hit:
    bit PPUSTATUS
    bvc @wait_for_hit
    lda #CTRL_PLAYFIELD
    ora scroll_page
    sta PPUCTRL
    lda scroll_x
    sta PPUSCROLL
    lda #0
    sta PPUSCROLL
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

draw_screen:
    lda #$20            ; both nametables and their attributes: all sky
    sta PPUADDR
    lda #$00
    sta PPUADDR
    lda #SKY
    ldx #8
    ldy #0
@clear:
    sta PPUDATA
    iny
    bne @clear
    dex
    bne @clear
    jsr fill_rows
    jsr place_pieces
    lda #$23
    jsr copy_attributes
    lda #$27
    jmp copy_attributes

; Each row_fills entry: row, tile for even columns, tile for odd columns; written to
; the row in both nametables.
fill_rows:
    ldx #0
@entry:
    lda row_fills, x
    cmp #$FF
    beq @done
    lda #$20
    jsr fill_one_row
    lda #$24
    jsr fill_one_row
    inx
    inx
    inx
    bne @entry
@done:
    rts

; A = nametable address high byte, X = row_fills entry.
fill_one_row:
    sta pointer + 1
    lda row_fills, x    ; row * 32 = (row / 8) * 256 + (row % 8) * 32
    lsr a
    lsr a
    lsr a
    clc
    adc pointer + 1
    sta PPUADDR
    lda row_fills, x
    and #7
    asl a
    asl a
    asl a
    asl a
    asl a
    sta PPUADDR
    ldy #16
@pair:
    lda row_fills + 1, x
    sta PPUDATA
    lda row_fills + 2, x
    sta PPUDATA
    dey
    bne @pair
    rts

; Each piece: nametable address (high byte first), count, tiles. A 0 ends the list.
place_pieces:
    lda #<pieces
    sta pointer
    lda #>pieces
    sta pointer + 1
    ldy #0
@piece:
    lda (pointer), y
    beq @done
    sta PPUADDR
    iny
    lda (pointer), y
    sta PPUADDR
    iny
    lda (pointer), y
    tax
@tile:
    iny
    lda (pointer), y
    sta PPUDATA
    dex
    bne @tile
    iny
    tya                 ; move the pointer past the piece, so Y never overflows
    clc
    adc pointer
    sta pointer
    bcc :+
    inc pointer + 1
:   ldy #0
    beq @piece
@done:
    rts

; A = high byte of the attribute table ($23 or $27).
copy_attributes:
    sta PPUADDR
    lda #$C0
    sta PPUADDR
    ldx #0
@copy:
    lda attributes, x
    sta PPUDATA
    inx
    cpx #64
    bne @copy
    rts

; ---------------------------------------------------------------- the game
start_game:
    lda #64
    sta hero_x
    lda #148
    sta hero_y
    lda #CRITTER_MIN_X
    sta critter_x
    jmp start_music

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

toggle_pause:
    lda pressed
    and #PAD_START
    beq @done
    lda paused
    eor #1
    sta paused
    beq @resume
    lda #0              ; silence everything while paused
    sta SND_CHN
    rts
@resume:
    lda #CHANNELS_ON
    sta SND_CHN
@done:
    rts

; One pixel per frame; the scroll runs through both nametables (512 pixels) and round.
scroll_playfield:
    inc scroll_x
    bne @done
    lda scroll_page
    eor #1
    sta scroll_page
@done:
    rts

move_hero:
    lda buttons
    and #PAD_RIGHT
    beq @not_right
    lda #0
    sta hero_facing
    lda hero_x
    cmp #HERO_MAX_X
    bcs @not_right
    inc hero_x
@not_right:
    lda buttons
    and #PAD_LEFT
    beq @not_left
    lda #FLIP_H
    sta hero_facing
    lda hero_x
    cmp #HERO_MIN_X + 1
    bcc @not_left
    dec hero_x
@not_left:
    lda buttons
    and #PAD_DOWN
    beq @not_down
    lda hero_y
    cmp #HERO_MAX_Y
    bcs @not_down
    inc hero_y
@not_down:
    lda buttons
    and #PAD_UP
    beq @not_up
    lda hero_y
    cmp #HERO_MIN_Y + 1
    bcc @not_up
    dec hero_y
@not_up:
    rts

; The chick walks to and fro along the grass, a pixel every other frame, and turns
; round (a horizontal flip) at each end.
move_critter:
    lda ticks
    and #1
    bne @done
    lda critter_facing
    bne @left
    inc critter_x
    lda critter_x
    cmp #CRITTER_MAX_X
    bne @done
    lda #FLIP_H
    sta critter_facing
    rts
@left:
    dec critter_x
    lda critter_x
    cmp #CRITTER_MIN_X
    bne @done
    lda #0
    sta critter_facing
@done:
    rts

; Sprite 0 (split), the note (8x8, panel), the hero (two 8x16 halves), the chick and
; the arrow (8x16).
build_sprites:
    ldx #0
    lda #SPLIT_Y
    ldy #SPLIT_SPRITE
    jsr put_sprite_y_tile
    lda #BEHIND
    sta oam + 2, x
    lda #SPLIT_X
    jsr put_sprite_x

    lda #NOTE_Y         ; the note turns round on every beat
    ldy #NOTE_SPRITE
    jsr put_sprite_y_tile
    lda music_beat
    and #4
    asl a
    asl a
    asl a
    asl a
    ora #2
    sta oam + 2, x
    lda #NOTE_X
    jsr put_sprite_x

    ; Facing left, the hero is the same two halves swapped and flipped.
    lda hero_y
    ldy #PLAYER_LEFT
    bit hero_facing
    bvc :+
    ldy #PLAYER_RIGHT
:   jsr put_sprite_y_tile
    lda hero_facing
    sta oam + 2, x
    lda hero_x
    jsr put_sprite_x
    lda hero_y
    ldy #PLAYER_RIGHT
    bit hero_facing
    bvc :+
    ldy #PLAYER_LEFT
:   jsr put_sprite_y_tile
    lda hero_facing
    sta oam + 2, x
    lda hero_x
    clc
    adc #8
    jsr put_sprite_x

    lda ticks           ; the chick's feet change every eight frames
    and #8
    lsr a
    lsr a
    adc #CRITTER_STEP_A
    tay
    lda #CRITTER_Y
    jsr put_sprite_y_tile
    lda critter_facing
    ora #1
    sta oam + 2, x
    lda critter_x
    jsr put_sprite_x

    lda ticks           ; the arrow bobs, and flips upside down every 64 frames
    lsr a
    lsr a
    and #15
    cmp #8
    bcc :+
    eor #15             ; 8..15 back down to 7..0
:   clc
    adc #ARROW_Y
    ldy #ARROW
    jsr put_sprite_y_tile
    lda ticks
    and #$40
    asl a
    ora #3
    sta oam + 2, x
    lda #ARROW_X
    ; falls through

; A = X position; finishes the sprite at oam + X and moves X to the next one.
put_sprite_x:
    sta oam + 3, x
    inx
    inx
    inx
    inx
    rts

; A = OAM Y, Y = tile number, for the sprite at oam + X.
put_sprite_y_tile:
    sta oam, x
    tya
    sta oam + 1, x
    rts

; "PLAY   X:40 Y:8F" or "PAUSE  X:40 Y:8F", the hero's position in hexadecimal.
build_status_line:
    ldx #0
    ldy #0
    lda paused
    beq @state
    ldy #paused_text - playing_text
@state:
    lda playing_text, y
    sta status_line, x
    inx
    iny
    cpx #5
    bne @state
    lda #' '
    sta status_line + 5
    sta status_line + 6
    sta status_line + 11
    lda #'X'
    sta status_line + 7
    lda #'Y'
    sta status_line + 12
    lda #':'
    sta status_line + 8
    sta status_line + 13
    lda hero_x
    ldx #9
    jsr put_hex
    lda hero_y
    ldx #14
    ; falls through

; Writes A as two hexadecimal digits at status_line + X.
put_hex:
    pha
    lsr a
    lsr a
    lsr a
    lsr a
    jsr put_digit
    pla
    and #$0F
put_digit:
    cmp #10
    bcc :+
    adc #'A' - '0' - 10 - 1     ; carry is set here
:   adc #'0'
    sta status_line, x
    inx
    rts

; ---------------------------------------------------------------- sound
start_music:
    lda #64             ; the DMC rests mid-way, where the kick starts and ends
    sta DMC_RAW
    lda #CHANNELS_ON
    sta SND_CHN
    lda #SWEEP_OFF
    sta SQ1_SWEEP
    sta SQ2_SWEEP
    lda #<tune
    sta music_row
    lda #>tune
    sta music_row + 1
    lda #1
    sta music_wait
    rts

; A: a rising zap on pulse 2. B: a long rumble on the noise channel. Each borrows its
; channel from the tune for a moment.
sound_effects:
    lda pressed
    and #PAD_A
    beq @no_zap
    lda #ZAP_FRAMES
    sta zap_time
    lda #DUTY_HALF | 12
    sta SQ2_VOL
    lda #SWEEP_ZAP
    sta SQ2_SWEEP
    lda #$F0
    sta SQ2_LO
    lda #$03
    sta SQ2_HI
@no_zap:
    lda pressed
    and #PAD_B
    beq @no_boom
    lda #BOOM_FRAMES
    sta boom_time
    lda #$0E            ; envelope decaying over about a second
    sta NOISE_VOL
    lda #$0C            ; low rumble
    sta NOISE_LO
    lda #$08
    sta NOISE_HI
@no_boom:
    lda zap_time
    beq @zap_over
    dec zap_time
    bne @zap_over
    lda #SWEEP_OFF      ; hand pulse 2 back to the tune, silent until its next note
    sta SQ2_SWEEP
    lda #0
    sta pluck_volume
@zap_over:
    lda boom_time
    beq @done
    dec boom_time
@done:
    rts

play_music:
    dec music_wait
    bne @fade
    lda #TEMPO
    sta music_wait
    jsr next_row
    lda row
    jsr melody_note
    lda row + 1
    jsr pluck_note
    lda row + 2
    jsr bass_note
    lda row + 3
    jsr drums
@fade:
    jmp fade_pulses

; Copies the next tune row into `row` and moves on, back to the start after the end.
next_row:
    ldy #3
@copy:
    lda (music_row), y
    sta row, y
    dey
    bpl @copy
    inc music_beat
    lda music_row
    clc
    adc #4
    sta music_row
    bcc :+
    inc music_row + 1
:   cmp #<tune_end
    bne @done
    lda music_row + 1
    cmp #>tune_end
    bne @done
    lda #<tune
    sta music_row
    lda #>tune
    sta music_row + 1
@done:
    rts

; Pulse 1: each note starts loud and settles to a softer sustain.
melody_note:
    beq @done
    cmp #OFF
    bne @play
    lda #0
    sta melody_volume
    rts
@play:
    tax
    lda period_low, x
    sta SQ1_LO
    lda period_high, x
    sta SQ1_HI
    lda #MELODY_VOLUME
    sta melody_volume
@done:
    rts

; Pulse 2: short plucks; with SW set the sweep unit drags the note down as it fades.
pluck_note:
    beq @done
    ldx zap_time
    bne @done
    cmp #OFF
    bne @play
    lda #0
    sta pluck_volume
    rts
@play:
    ldy #SWEEP_OFF
    asl a               ; SW into carry
    bcc :+
    ldy #SWEEP_PEW
:   sty SQ2_SWEEP
    lsr a
    tax
    lda period_low, x
    sta SQ2_LO
    lda period_high, x
    sta SQ2_HI
    lda #PLUCK_VOLUME
    sta pluck_volume
@done:
    rts

; Triangle: the linear counter reloads from $4008 every quarter frame while its
; control bit is set, so $FF holds a note and $80 stops it.
bass_note:
    beq @done
    cmp #OFF
    bne @play
    lda #$80
    sta TRI_LINEAR
    rts
@play:
    tax
    lda #$FF
    sta TRI_LINEAR
    lda period_low + 12, x  ; an octave up in the table is the written pitch here
    sta TRI_LO
    lda period_high + 12, x
    sta TRI_HI
@done:
    rts

drums:
    lsr a
    bcc @no_kick
    pha
    jsr kick
    pla
@no_kick:
    ldx boom_time       ; the B sound has the noise channel
    bne @done
    lsr a
    bcc @no_hat
    ldx #$00            ; envelope: fast decay
    ldy #$03            ; high noise
    jsr noise_hit
@no_hat:
    lsr a
    bcc @done
    ldx #$02            ; slower decay
    ldy #$06            ; lower noise
    jsr noise_hit
@done:
    rts

; X = noise envelope byte, Y = noise period; restarts the envelope.
noise_hit:
    stx NOISE_VOL
    sty NOISE_LO
    ldx #$08
    stx NOISE_HI
    rts

; Restarts the kick sample: stopping the DMC first makes the next start begin at the
; sample's first byte, and the level is set to the middle it starts and ends at.
kick:
    lda #CHANNELS_ON
    sta SND_CHN
    lda #KICK_RATE
    sta DMC_FREQ
    lda #64
    sta DMC_RAW
    lda #KICK_ADDRESS
    sta DMC_START
    lda #KICK_LENGTH
    sta DMC_LEN
    lda #CHANNELS_ON | $10
    sta SND_CHN
    rts

; Software volume envelopes of both pulses, written every frame.
fade_pulses:
    lda melody_volume
    cmp #MELODY_SUSTAIN + 1
    bcc :+
    dec melody_volume
:   lda melody_volume
    ora #DUTY_HALF
    sta SQ1_VOL
    ldx zap_time
    bne @done
    lda pluck_volume
    beq :+
    dec pluck_volume
:   lda pluck_volume
    ora #DUTY_QUARTER
    sta SQ2_VOL
@done:
    rts
