; A picture that exercises the whole renderer, drawn every frame:
;
; - a top band of framed tiles (palette 3) and a band of vertical stripes that show
;   the fine X scroll, over a checkerboard whose 16-pixel blocks take their palettes
;   from the attribute bytes (top-left 0, top-right 1, bottom-left 2, bottom-right 3),
;   with a transparent window in its right half; nametable 1 (vertical mirroring) is
;   solid colour 3 of palette 1 below its own top band;
; - vertical scroll 4 for the whole frame; sprite 0 sits on the top band, and when its
;   hit flag rises the program scrolls the rest of the frame 21 pixels to the left;
; - four copies of an "F" glyph with every flip; sprites in front of and behind the
;   background, including a behind-background sprite that hides a front one;
; - background hidden in the left 8 columns while a sprite is shown there;
; - nine sprites on one line: the ninth is not drawn, and the overflow flag seen by the
;   program is kept at `status_seen`.

tmp         = $00
frame       = $01
status_seen = $10       ; PPUSTATUS & $A0 once overflow (or vertical blank) showed up
oam_page    = $0200

.segment "HEADER"
        .byte "NES", $1A, 1, 1, $01, 0   ; 16 KiB PRG, 8 KiB CHR, vertical mirroring
        .res 8, 0

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        lda #0
        sta $2000
        sta $2001
        sta frame
        sta status_seen
        bit $2002
:       bit $2002
        bpl :-

        lda #$3F
        sta $2006
        lda #$00
        sta $2006
        ldx #0
:       lda palette, x
        sta $2007
        inx
        cpx #32
        bne :-

        lda #$20
        sta $2006
        lda #$00
        sta $2006
        jsr top_band
        lda #4                  ; rows 4-7: stripes
        ldx #128
        jsr fill
        ldy #8                  ; rows 8-29: checkerboard with a window
@row:   ldx #0
@col:   cpy #20
        bcc @check
        cpy #24
        bcs @check
        cpx #16
        bcc @check
        lda #0
        beq @store
@check: tya
        lsr
        sta tmp
        txa
        lsr
        eor tmp
        and #1
        clc
        adc #1
@store: sta $2007
        inx
        cpx #32
        bne @col
        iny
        cpy #30
        bne @row
        lda #$FF                ; attributes: top band palette 3, stripes palette 0,
        ldx #8                  ; then one palette per quadrant
        jsr fill
        lda #$00
        ldx #8
        jsr fill
        lda #$E4
        ldx #48
        jsr fill

        jsr top_band            ; nametable 1 follows at $2400
        lda #3                  ; rows 4-29: 832 tiles of colour 3
        ldx #0
        jsr fill
        ldx #0
        jsr fill
        ldx #0
        jsr fill
        ldx #64
        jsr fill
        lda #$FF
        ldx #8
        jsr fill
        lda #$55
        ldx #56
        jsr fill

        ldx #0
        lda #$FF
:       sta oam_page, x
        inx
        bne :-
:       lda sprites, x
        sta oam_page, x
        inx
        cpx #sprites_end - sprites
        bne :-

        lda #$88                ; NMI on, 8x8 sprites from the pattern table at $1000
        sta $2000

main:   lda frame
:       cmp frame
        beq :-
:       bit $2002               ; the last frame's hit clears at the end of vblank
        bvs :-
:       bit $2002
        bvc :-
        lda #21                 ; split: scroll the rest of the frame
        sta $2005
        lda #0
        sta $2005
:       lda $2002
        and #$A0
        beq :-
        sta status_seen
        jmp main

; 128 framed tiles: rows 0-3 of a nametable.
top_band:
        lda #5
        ldx #128
; Writes A to PPUDATA X times (256 when X is 0).
fill:   sta $2007
        dex
        bne fill
        rts

nmi:    pha
        lda #0
        sta $2003
        lda #>oam_page
        sta $4014
        lda #$1C                ; background and sprites, sprites also in columns 0-7
        sta $2001
        bit $2002
        lda #0
        sta $2005
        lda #4
        sta $2005
        lda #$88
        sta $2000
        inc frame
        pla
irq:    rti

palette:
        .byte $0C, $16, $27, $18,  $0C, $1A, $2A, $3A,  $0C, $12, $22, $32,  $0C, $14, $24, $34
        .byte $0C, $30, $10, $00,  $0C, $28, $38, $08,  $0C, $21, $31, $01,  $0C, $25, $35, $05

; Y, tile, attributes, X. Sprite tiles come from the pattern table at $1000.
sprites:
        .byte  20, 1, $00, 128          ; 0: sprite-0 hit on the top band
        .byte  70, 3, $00,  40          ; 1-4: the glyph with each flip
        .byte  70, 3, $41,  60
        .byte  70, 3, $82,  80
        .byte  70, 3, $C3, 100
        .byte 165, 4, $21, 150          ; 5: behind, in the window: shown
        .byte 165, 4, $20,  60          ; 6: behind opaque background: hidden
        .byte 165, 4, $02,  80          ; 7: in front
        .byte 195, 4, $20,  30          ; 8: behind, and it hides...
        .byte 195, 4, $03,  34          ; 9: ...this front sprite where they overlap
        .byte 100, 1, $00,   0          ; 10: in the left columns
        .byte 210, 2, $00, 110          ; 11-19: nine on one line
        .byte 210, 2, $01, 126
        .byte 210, 2, $02, 142
        .byte 210, 2, $03, 158
        .byte 210, 2, $00, 174
        .byte 210, 2, $01, 190
        .byte 210, 2, $02, 206
        .byte 210, 2, $03, 222
        .byte 210, 2, $00, 238
sprites_end:

.segment "VECTORS"
        .word nmi, reset, irq

.segment "CHARS"
; Pattern table 0: background.
        .res 16, $00                    ; 0: transparent
        .res 8, $FF                     ; 1: colour 1
        .res 8, $00
        .res 8, $00                     ; 2: colour 2
        .res 8, $FF
        .res 16, $FF                    ; 3: colour 3
        .res 8, $55                     ; 4: stripes 0, 1, 2, 3, 0, 1, 2, 3
        .res 8, $33
        .res 8, $FF                     ; 5: colour 1 framed in colour 3
        .byte $FF, $81, $81, $81, $81, $81, $81, $FF
        .res $1000 - 6 * 16, $00
; Pattern table 1: sprites.
        .res 16, $00                    ; 0: transparent
        .res 8, $FF                     ; 1: colour 1
        .res 8, $00
        .res 8, $00                     ; 2: colour 2
        .res 8, $FF
        .byte $FE, $C0, $C0, $F8, $C0, $C0, $C0, $00   ; 3: "F", top bar in colour 3
        .byte $FE, $00, $00, $00, $00, $00, $00, $00
        .res 16, $FF                    ; 4: colour 3
        .res $1000 - 5 * 16, $00
