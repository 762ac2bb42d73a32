; The MMC3 scanline counter seen by a 6502 program through a real IRQ handler.
;
; Each phase runs for one frame, from one NMI to the next: it loads the latch, reloads
; the counter, enables or disables its IRQ, sets PPUMASK, and counts the IRQs the handler
; takes. The counts go to irq_counts; `phase` tells the test which phase is running, so
; that it can also see at which scanline each IRQ arrives. $A5 at all_done when finished.

irq_counts  = $0310     ; one count per phase
all_done    = $02FF
irq_count   = $20
nmi_count   = $21
phase       = $22

IRQ_LATCH   = $C000
IRQ_RELOAD  = $C001
IRQ_DISABLE = $E000
IRQ_ENABLE  = $E001

; One frame with the counter loaded from `latch`, IRQs switched by a write to `enable`
; and PPUMASK = `mask`; the number of IRQs taken goes to irq_counts + number.
.macro irq_phase number, latch, enable, mask
        lda #number
        sta phase
        jsr wait_nmi
        lda #latch
        sta IRQ_LATCH
        sta IRQ_RELOAD
        sta enable
        lda #mask
        sta $2001
        lda #0
        sta irq_count
        cli
        jsr wait_nmi
        sei
        lda #0
        sta $2001
        lda irq_count
        sta irq_counts + number
        jsr drain_irq
.endmacro

.segment "HEADER"
        .byte "NES", $1A, 2, 1, $40, $00
        .res 8, 0

.segment "CODE"
reset:
        sei
        ldx #$FF
        txs
        lda #0
        sta $2001
        lda #$80
        sta $2000               ; NMI on: phases start and end in vertical blank
        irq_phase 0, 20, IRQ_ENABLE, $18
        irq_phase 1, 1, IRQ_ENABLE, $18
        irq_phase 2, 0, IRQ_ENABLE, $18
        irq_phase 3, 20, IRQ_DISABLE, $18
        irq_phase 4, 20, IRQ_ENABLE, $00
        lda #0
        sta $2000
        lda #$A5
        sta all_done
forever:
        jmp forever

; Returns after the next NMI, early in vertical blank (the counter does not step there).
wait_nmi:
        lda nmi_count
:       cmp nmi_count
        beq :-
        rts

; With the counter's IRQ disabled, takes an IRQ still pending from the phase that ended.
drain_irq:
        sta IRQ_DISABLE
        cli
        nop
        sei
        rts

nmi:
        inc nmi_count
        rti

irq:
        inc irq_count
        rti

.segment "VECTORS"
        .word nmi, reset, irq
