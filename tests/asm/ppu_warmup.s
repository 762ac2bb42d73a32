; The PPU after power-on (hardware mode): writes to $2000, $2001, $2005 and $2006 are
; ignored until the first vertical blank ends, and work once it has; after the reset
; button they work at once. Each check stores 0 in its result byte when it passes and a
; non-zero code naming the first failed step otherwise; $02FF becomes $A5 when the
; checks of the run have finished.
;
; Power-on runs checks 0-3. A reset at any later point (the program marks $02FE as soon
; as it starts) runs checks 4 and 5 instead.

results     = $0300
started     = $02FE
all_done    = $02FF
nmi_count   = $10
nmi_seen    = $11

EARLY_NMI   = 0     ; the NMI enabled by an early $2000 write does not come
EARLY_ADDR  = 1     ; early $2006 writes leave v alone, so $2007 writes to $0000
LATE_NMI    = 2     ; after the first vertical blank $2000 enables the NMI
LATE_ADDR   = 3     ; ... and $2006 sets the address
RESET_NMI   = 4     ; after a reset $2000 works at once
RESET_ADDR  = 5     ; ... and so does $2006

.macro expect value, slot, code
        cmp #value
        beq :+
        lda #code
        sta results + slot
        jmp finish
:
.endmacro

.segment "HEADER"
        .byte "NES", $1A, 1, 0, 0, 0
        .res 8, 0

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        lda started
        cmp #$A5
        bne power_on
        jmp after_reset
power_on:
        lda #$A5
        sta started
        ; Right after power-on: NMI on, rendering on, v = $2100 -- all to be ignored.
        lda #$80
        sta $2000
        lda #$1E
        sta $2001
        lda #$21
        sta $2006
        lda #$00
        sta $2006
        lda #$07
        sta $2005
        lda #$5A
        sta $2007           ; $2007 works: the byte lands where v already was, $0000
        lda #0
        sta nmi_count
        ldx #5
:       lda #$FF
        sta results, x
        dex
        bpl :-

        ; The first vertical blank starts; an NMI, had it been enabled, comes with it.
        jsr wait_vblank
        jsr delay
        lda nmi_count
        expect 0, EARLY_NMI, 1
        lda #0
        sta results + EARLY_NMI

        ; The next one: the first has ended and the reset signal with it.
        jsr wait_vblank
        lda #$00
        sta $2006
        sta $2006
        lda $2007
        lda $2007
        expect $5A, EARLY_ADDR, 1
        lda #$21
        sta $2006
        lda #$00
        sta $2006
        lda $2007
        lda $2007
        expect $00, EARLY_ADDR, 2
        lda #0
        sta results + EARLY_ADDR

        jsr nmi_comes
        expect 1, LATE_NMI, 1
        lda #0
        sta results + LATE_NMI

        lda #$A5
        ldx #$22
        ldy #$40
        jsr write_and_read
        expect $A5, LATE_ADDR, 1
        lda #0
        sta results + LATE_ADDR
        jmp finish

after_reset:
        ; The writes take effect at once, wherever the PPU stands.
        lda #$C3
        ldx #$23
        ldy #$00
        jsr write_and_read
        expect $C3, RESET_ADDR, 1
        lda #0
        sta results + RESET_ADDR
        jsr nmi_comes
        expect 1, RESET_NMI, 1
        lda #0
        sta results + RESET_NMI

finish:
        lda #0
        sta $2000
        lda #$A5
        sta all_done
:       jmp :-

; Enables the NMI and waits up to about ten frames for it: A = 1 when it came.
nmi_comes:
        lda #0
        sta nmi_count
        lda #$80
        sta $2000
        ldx #0
        ldy #40
:       lda nmi_count
        bne @came
        dex
        bne :-
        dey
        bne :-
        lda #0
        sta $2000
        rts
@came:
        lda #0
        sta $2000
        lda #1
        rts

; Writes A at address X:Y through $2006/$2007 and reads it back into A.
write_and_read:
        pha
        stx $2006
        sty $2006
        pla
        sta $2007
        stx $2006
        sty $2006
        lda $2007
        lda $2007
        rts

wait_vblank:
:       bit $2002
        bpl :-
        rts

; About 1300 cycles: long enough for a pending NMI to be taken.
delay:
        ldx #0
:       dex
        bne :-
        rts

nmi:
        inc nmi_count
irq:
        rti

.segment "VECTORS"
        .word nmi, reset, irq
