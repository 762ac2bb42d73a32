; The sound chip as the CPU sees it, for hardware mode. $0300 holds the status check's
; result (0 passed, else the failed step); $0310-$0313 two cycle measurements, each the
; number of 13-cycle polls of $4015 from a $4017 write of $00 until the frame IRQ flag
; shows (16 bits, low byte first): the first with the DMC silent, the second with it
; playing a long sample whose fetches stall the CPU. $02FF becomes $A5 at the end.

status_result = $0300
quiet_polls   = $0310
dmc_polls     = $0312
all_done      = $02FF

.macro expect value, code
        cmp #value
        beq :+
        lda #code
        sta status_result
        rts
:
.endmacro

.segment "HEADER"
        .byte "NES", $1A, 1, 0, 0, 0
        .res 8, 0

.segment "CODE"
; Writes $00 to $4017 and counts 13-cycle polls of $4015 until the frame IRQ flag
; shows: X the low byte, Y the high byte of the count. First in the program, so that
; no branch of the loop crosses a page (which would cost a cycle).
measure:
        lda $4015               ; clear a flag left from before
        lda #$00
        sta $4017
        ldx #0
        ldy #0
@poll:  lda $4015
        and #$40
        bne @done
        inx
        bne @poll
        iny
        jmp @poll
@done:  rts

reset:
        sei
        ldx #$FF
        txs
        lda #0
        sta $2000
        sta $2001
        lda #$FF
        sta status_result
        jsr check_status
        jsr measure
        stx quiet_polls
        sty quiet_polls + 1
        lda #$4F                ; loop, rate 15: a fetch every 432 cycles
        sta $4010
        lda #0                  ; the sample is the program itself, from $C000
        sta $4012
        lda #$FF                ; 4081 bytes
        sta $4013
        lda #$10
        sta $4015
        jsr measure
        stx dmc_polls
        sty dmc_polls + 1
        lda #0
        sta $4015
        lda #$A5
        sta all_done
forever:
        jmp forever

; $4015 reads every length counter and the DMC's state; a disabled channel ignores
; length loads; the DMC IRQ flag stays through reads and clears on a $4015 write.
check_status:
        lda #$40                ; no frame IRQ
        sta $4017
        lda $4015
        lda #$0F
        sta $4015
        lda #$08                ; length index 1: 254
        sta $4003
        sta $4007
        sta $400B
        sta $400F
        lda $4015
        and #$1F
        expect $0F, 1
        lda #$0D                ; pulse 2 off: its counter clears
        sta $4015
        lda $4015
        and #$1F
        expect $0D, 2
        lda #$08
        sta $4007               ; ignored while disabled
        lda $4015
        and #$1F
        expect $0D, 3
        lda #$8F                ; IRQ at the end, rate 15
        sta $4010
        lda #0                  ; one byte, fetched at once
        sta $4012
        sta $4013
        lda #$1F
        sta $4015
        nop
        nop
        nop
        nop
        lda $4015
        and #$90
        expect $80, 4           ; the sample is over and its IRQ flag is up
        lda $4015
        and #$80
        expect $80, 5           ; reading leaves the DMC flag
        lda #$0F
        sta $4015
        lda $4015
        and #$80
        expect $00, 6           ; a write clears it
        lda #0
        sta $4010
        sta $4015
        sta status_result
        rts

.segment "VECTORS"
        .word reset, reset, reset
