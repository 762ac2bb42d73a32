; Self-checking CPU and bus tests. Each check stores 0 in its result byte when it
; passes and a non-zero code naming the first failed step otherwise; $02FF becomes $A5
; when all checks have run. The test harness presses A and Start on controller 1 and
; Right on controller 2 before the program starts.

results     = $0300     ; one byte per check, $FF until it has run
all_done    = $02FF
nmi_count   = $10
nmi_mode    = $11       ; 0 count only, 1 re-arm without a status read, 3 with one
nmi_before  = $12
nmi_after   = $13
brk_seen    = $14
brk_p       = $15
brk_ret_lo  = $16
brk_ret_hi  = $17

RAM_MIRROR  = 0
PPU_FOLD    = 1
CONTROLLERS = 2
OAM_DMA     = 3
EXTRA_ROWS  = 4
NMI_EDGES   = 5
BRK_ENTRY   = 6
CHECKS      = 7

; Compare A with a value; on a mismatch record `code` for `slot` and leave the check.
.macro expect value, slot, code
        cmp #value
        beq :+
        lda #code
        sta results + slot
        rts
:
.endmacro

.macro passed slot
        lda #0
        sta results + slot
        rts
.endmacro

.segment "HEADER"
        .byte "NES", $1A, 1, 0, 0, 0
        .res 8, 0

.segment "CODE"
reset:
        sei
        ldx #$FF
        txs
        lda #0
        sta $2000
        sta $2001
        sta nmi_mode
        ldx #CHECKS - 1
        lda #$FF
:       sta results, x
        dex
        bpl :-
        jsr check_ram_mirror
        jsr check_ppu_fold
        jsr check_controllers
        jsr check_oam_dma
        jsr check_extra_rows
        jsr check_nmi_edges
        jsr check_brk
        lda #$A5
        sta all_done
forever:
        jmp forever

; $0800-$1FFF are three more images of the 2 KiB of RAM.
check_ram_mirror:
        lda #$55
        sta $0801
        lda $0001
        expect $55, RAM_MIRROR, 1
        lda $1001
        expect $55, RAM_MIRROR, 2
        lda $1801
        expect $55, RAM_MIRROR, 3
        passed RAM_MIRROR

; $2008-$3FFF repeat the eight PPU registers; video memory is reached through them.
check_ppu_fold:
        lda $2002               ; reset the write toggle
        lda #$21
        sta $3FFE               ; PPUADDR, high byte
        lda #$08
        sta $3FFE               ; PPUADDR, low byte: v = $2108
        lda #$77
        sta $3FFF               ; PPUDATA
        lda #$21
        sta $2006
        lda #$08
        sta $2006
        lda $2007               ; the read buffer's old contents
        lda $200F               ; now the byte at $2108
        expect $77, PPU_FOLD, 1
        lda #$3F
        sta $2006
        lda #$10
        sta $2006
        lda #$2A
        sta $2007               ; $3F10 is the same cell as $3F00
        lda #$3F
        sta $2006
        lda #$00
        sta $2006
        lda $2007               ; palette reads are not buffered
        expect $2A, PPU_FOLD, 2
        passed PPU_FOLD

check_controllers:
        lda #1
        sta $4016
        lda #0
        sta $4016
        ldx #0
:       lda $4016
        sta $0320, x
        lda $4017
        sta $0330, x
        inx
        cpx #9
        bne :-
        ldx #0
:       lda $0320, x
        cmp port1_reads, x
        bne @port1
        lda $0330, x
        cmp port2_reads, x
        bne @port2
        inx
        cpx #9
        bne :-
        lda #1                  ; strobe held high: always the first button
        sta $4016
        lda $4016
        expect $41, CONTROLLERS, 3
        lda $4016
        expect $41, CONTROLLERS, 3
        lda #0
        sta $4016
        passed CONTROLLERS
@port1: lda #1
        sta results + CONTROLLERS
        rts
@port2: lda #2
        sta results + CONTROLLERS
        rts

port1_reads: .byte $41, $40, $40, $41, $40, $40, $40, $40, $41
port2_reads: .byte $40, $40, $40, $40, $40, $40, $40, $41, $41

; OAM DMA copies page 2 into OAM from the current OAM address, masks attribute bytes
; and leaves the OAM address alone.
check_oam_dma:
        ldx #0
:       txa
        eor #$FF
        sta $0200, x
        inx
        bne :-
        lda #4
        sta $2003
        lda #2
        sta $4014
        lda $2004               ; OAM[4], from $0200
        expect $FF, OAM_DMA, 1
        lda #2
        sta $2003
        lda $2004               ; OAM[2], from $02FE: $01 masked with $E3
        expect $01, OAM_DMA, 2
        lda #6
        sta $2003
        lda $2004               ; OAM[6], from $0202: $FD masked with $E3
        expect $E1, OAM_DMA, 3
        lda $4014
        expect $02, OAM_DMA, 4
        passed OAM_DMA

; The extra rows of the opcode table and the opcodes without an operation.
check_extra_rows:
        .byte $B2               ; LDX with no mode: loads the next byte, length 1,
        .byte $E8               ; then runs that byte ($E8, INX) as the next opcode
        txa
        expect $E9, EXTRA_ROWS, 1
        ldx #5
        .byte $9E, $00, $04     ; STX $0400,X
        lda $0405
        expect $05, EXTRA_ROWS, 2
        lda #$E2                ; INC #$41 in RAM writes into its own operand
        sta $0500
        lda #$41
        sta $0501
        lda #$60                ; RTS
        sta $0502
        jsr $0500
        lda $0501
        expect $42, EXTRA_ROWS, 3
        lda #$1A                ; ASL with "impl": shifts the next byte ($30 -> $60,
        sta $0510               ; RTS) and runs it as the next opcode
        lda #$30
        sta $0511
        jsr $0510
        lda $0511
        expect $60, EXTRA_ROWS, 4
        lda #$3C
        .byte $04, $10          ; no-ops of two, three and one bytes
        .byte $0C, $00, $02
        .byte $80
        expect $3C, EXTRA_ROWS, 5
        passed EXTRA_ROWS

; NMI follows the rising edge of (PPUCTRL bit 7 and the vertical-blank condition).
; Turning bit 7 off and on again inside vertical blank raises another NMI, unless
; PPUSTATUS was read since vertical blank began. The handler does the toggling.
check_nmi_edges:
        lda #0
        sta nmi_count
        lda #1
        sta nmi_mode
        lda #$80
        sta $2000
:       lda nmi_mode
        bne :-
        lda nmi_before
        clc
        adc #1
        cmp nmi_after
        beq :+
        lda #1
        sta results + NMI_EDGES
        rts
:       lda #3
        sta nmi_mode
:       lda nmi_mode
        bne :-
        lda nmi_before
        cmp nmi_after
        beq :+
        lda #2
        sta results + NMI_EDGES
        rts
:       lda #0
        sta $2000
        passed NMI_EDGES

nmi:
        pha
        txa
        pha
        inc nmi_count
        ldx nmi_mode
        beq @out
        lda #0
        sta nmi_mode            ; a nested NMI only counts
        cpx #1
        beq @rearm
        bit $2002               ; withdraws the condition for this vertical blank
@rearm: lda nmi_count
        sta nmi_before
        lda #$00
        sta $2000
        lda #$80
        sta $2000
        nop                     ; a re-armed NMI is taken after this instruction
        nop
        lda nmi_count
        sta nmi_after
@out:   pla
        tax
        pla
        rti

; BRK pushes the address two bytes on and P with B set, and goes through $FFFE.
check_brk:
        lda #0
        sta brk_seen
        brk
        .byte $EA               ; skipped: BRK returns two bytes on
after_brk:
        lda brk_seen
        expect 1, BRK_ENTRY, 1
        lda brk_p
        and #$30
        expect $30, BRK_ENTRY, 2
        lda brk_ret_lo
        expect <after_brk, BRK_ENTRY, 3
        lda brk_ret_hi
        expect >after_brk, BRK_ENTRY, 4
        passed BRK_ENTRY

irq:
        tsx
        lda $0101, x
        sta brk_p
        lda $0102, x
        sta brk_ret_lo
        lda $0103, x
        sta brk_ret_hi
        lda #1
        sta brk_seen
        rti

.segment "VECTORS"
        .word nmi, reset, irq
