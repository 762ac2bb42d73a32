; The Sunsoft FME-7 (mapper 69) as a 6502 program sees it: every bank register, the
; $6000 window as ROM, RAM and switched-off RAM, the four nametable arrangements (and the
; second page of nametable RAM kept across them), and the IRQ counter: when it may and
; may not interrupt, that /IRQ holds until a write to register 13 releases it, its high
; byte, and the cycle its wrap reaches the CPU.
;
; Reports through RAM: $A5 at $02FF when finished, the number of the first failed check
; at $02FE (0 when all passed), and at $02FC-$02FD the measured arrival figure:
;
; The counter is loaded with N while stopped, and the write of $81 to register 13 starts
; it. Straight after that write comes a run of INX (two cycles each), X counting from 0;
; the IRQ handler keeps X. The figure is X after N = 20 plus X after N = 21: one cycle
; more or less to the IRQ changes it by one (of two runs one cycle apart, exactly one
; gains an INX when the IRQ comes a cycle later).

all_done     = $02FF
first_failed = $02FE
measured     = $02FC
irq_count    = $20
irq_x        = $21
first_x      = $22

COMMAND   = $8000
PARAMETER = $A000

.macro set_register number, value
        lda #number
        sta COMMAND
        lda #value
        sta PARAMETER
.endmacro

; Fails with check `number` unless A holds `value`.
.macro check_a value, number
        cmp #value
        beq :+
        ldx #number
        jmp fail
:
.endmacro

.macro ppu_address addr
        bit $2002
        lda #>(addr)
        sta $2006
        lda #<(addr)
        sta $2006
.endmacro

; A = the byte the PPU reads at `addr` (the first PPUDATA read fills the buffer).
.macro ppu_read addr
        ppu_address addr
        lda $2007
        lda $2007
.endmacro

.macro ppu_write addr, value
        ppu_address addr
        lda #value
        sta $2007
.endmacro

; About 5 * count cycles.
.macro delay count
        ldy #count
:       dey
        bne :-
.endmacro

; Starts the counter from `n` with its IRQ on and runs 40 INX from X = 0.
.macro measure n
        set_register 14, <(n)
        set_register 15, >(n)
        lda #13
        sta COMMAND
        ldx #0
        lda #$81
        cli
        sta PARAMETER
        .repeat 40
        inx
        .endrepeat
        sei
.endmacro

.segment "HEADER"
        .byte "NES", $1A, 32, 32, $50, $40   ; 512 KiB PRG, 256 KiB CHR, mapper 69
        .res 8, 0

.segment "BANKS"
.repeat 63, I
        .byte I
        .res $1FFF
.endrepeat

.segment "CHRBANKS"
.repeat 256, I
        .byte I
        .res $3FF
.endrepeat

.segment "CODE"
        .byte 63                ; the last bank's number, at $E000
reset:
        sei
        cld
        ldx #$FF
        txs
        lda #$40
        sta $4017               ; no APU frame IRQ: every IRQ here is the board's
        lda #0
        sta $4010
        sta $2000
        sta $2001
        sta irq_count
        sta first_failed
        sta measured
        sta measured + 1
        bit $2002
:       bit $2002
        bpl :-
:       bit $2002
        bpl :-

; PRG: the last bank at $E000, 6-bit banks at $8000, $A000 and $C000.
        lda $E000
        check_a 63, 1
        set_register 9, 5
        lda $8000
        check_a 5, 2
        set_register 10, $25
        lda $A000
        check_a $25, 3
        set_register 11, $3E
        lda $C000
        check_a $3E, 4

; CHR: eight 1 KiB banks, 8-bit numbers.
.repeat 8, I
        set_register I, $C0 + I * 5
.endrepeat
.repeat 8, I
        ppu_read I * $400
        check_a $C0 + I * 5, 5 + I
.endrepeat

; $6000: RAM at power-on, then ROM, then the same RAM again, then RAM switched off.
        lda #$5A
        sta $6000
        lda $6000
        check_a $5A, 13
        set_register 8, $07
        lda $6000
        check_a 7, 14
        lda #$FF
        sta $6000               ; ROM keeps its byte
        lda $6000
        check_a 7, 15
        set_register 8, $89     ; without bit 6 it is ROM, whatever bit 7 says
        lda $6000
        check_a 9, 16
        set_register 8, $C0
        lda $6000
        check_a $5A, 17
        set_register 8, $40     ; RAM selected, not enabled: the open bus
        lda $6000
        check_a $60, 18         ; the address's high byte, the last byte on the bus
        lda $7F80
        check_a $7F, 19
        lda #$33
        sta $6000               ; nothing takes the write
        set_register 8, $C0
        lda $6000
        check_a $5A, 20

; Nametables: page A written at $2000 and page B at $2400 in the vertical arrangement.
        set_register 12, 0
        ppu_write $2000, $11
        ppu_write $2400, $22
        ppu_read $2800
        check_a $11, 21
        ppu_read $2C00
        check_a $22, 22
        set_register 12, 1      ; horizontal
        ppu_read $2400
        check_a $11, 23
        ppu_read $2800
        check_a $22, 24
        set_register 12, 2      ; one-screen, lower page
        ppu_read $2C00
        check_a $11, 25
        set_register 12, 3      ; one-screen, upper page
        ppu_read $2000
        check_a $22, 26
        ; Page B written in the horizontal arrangement, seen in the vertical one after
        ; passing through one-screen.
        set_register 12, 1
        ppu_write $2800, $33
        set_register 12, 2
        set_register 12, 0
        ppu_read $2400
        check_a $33, 27
        ; ... and written in one-screen upper, seen in the horizontal arrangement.
        set_register 12, 3
        ppu_write $2000, $44
        set_register 12, 1
        ppu_read $2C00
        check_a $44, 28
        ppu_read $2000
        check_a $11, 29

; IRQ: none while the counter is stopped, none with the counter running and its IRQ off.
        set_register 14, 10
        set_register 15, 0
        set_register 13, $01
        cli
        delay 40
        sei
        lda irq_count
        check_a 0, 30
        set_register 13, $80
        cli
        delay 40
        sei
        lda irq_count
        check_a 0, 31
        ; A wrap while I is set holds /IRQ: CLI lets it in.
        set_register 13, 0      ; stopped while loaded
        set_register 14, 10
        set_register 15, 0
        set_register 13, $81
        delay 40
        lda irq_count
        check_a 0, 32
        cli
        nop
        nop
        sei
        lda irq_count
        check_a 1, 33
        ; A write to register 13 releases a held /IRQ before the CPU takes it.
        set_register 13, 0      ; stopped while loaded
        set_register 14, 10
        set_register 15, 0
        set_register 13, $81
        delay 40
        set_register 13, $80
        cli
        nop
        nop
        sei
        lda irq_count
        check_a 1, 34
        ; The high byte: $0180 cycles are about 77 turns of a five-cycle loop.
        set_register 14, $80
        set_register 15, $01
        lda #13
        sta COMMAND
        ldx #0
        lda #$81
        cli
        sta PARAMETER
:       inx
        bne :-
        sei
        lda irq_count
        check_a 2, 35
        lda irq_x
        cmp #64
        bcs :+
        ldx #36
        jmp fail
:       cmp #81
        bcc :+
        ldx #37
        jmp fail
:
; The arrival, to the cycle.
        measure 20
        lda irq_count
        check_a 3, 38
        lda irq_x
        sta first_x
        measure 21
        lda irq_count
        check_a 4, 39
        lda irq_x
        clc
        adc first_x
        sta measured
        jmp done

; X = the number of the failed check.
fail:
        stx first_failed
done:
        lda #$A5
        sta all_done
; From here on the counter interrupts a loop again and again (for the snapshot tests).
forever:
        set_register 14, $00
        set_register 15, $01
        set_register 13, $81
        cli
        ldx #0
:       inx
        bne :-
        sei
        jmp forever

; Keeps X, counts the IRQ, releases /IRQ and stops the counter.
irq:
        stx irq_x
        inc irq_count
        pha
        lda #13
        sta COMMAND
        lda #0
        sta PARAMETER
        pla
        rti

nmi:
        rti

.segment "VECTORS"
        .word nmi, reset, irq
