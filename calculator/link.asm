; link.asm: one byte over the link cable, either way, with every wait bounded.
;
; The two-wire handshake, bit 0 first: the sender pulls the tip for a 0 bit or
; the ring for a 1 bit; the receiver answers by pulling the other line and
; holds it until the sender lets go, then lets go itself.
;
; Time is counted in wait units: one unit is one pass of wait_link's outer
; loop, 10 005 cycles, 1.67 ms at 6 MHz (the speed the OS runs every assembly
; program at on all four models). Interrupts are off from a byte's first bit
; to its last only, so the count is the time; while they are on (waiting for a
; byte to start) the timer interrupt only lengthens a wait.

; 1.5 s: how long the PC may take to answer the first bit of a byte we send,
; and to start the next byte of an announcement.
FIRST_ANSWER_UNITS EQU 900
; 300 ms: every later answer inside a byte. The PC answers in microseconds to
; a few milliseconds; this leaves room for one that is briefly descheduled.
INNER_ANSWER_UNITS EQU 180
; How long an answer to our bit must stay before we let go. A PC that is
; receiving holds its answer until we let go; a PC that began a byte of its
; own at the same instant takes our line for its answer and lets go of its
; own at once. 10 ms on the first bit, where such a collision shows, so that
; a PC briefly descheduled there is caught too; 3.3 ms on the others. Both
; stay well inside the PC's bound for our letting go (nightjar's: 100 ms).
FIRST_HOLD_CHECK_UNITS EQU 6
HOLD_CHECK_UNITS   EQU 2

; Waits until one of the lines in D reads as not E (see wait_pulled and
; wait_released), at most HL wait units.
; In: D = lines, E = their levels to leave, HL = units (at least 1).
; Out: carry clear when seen, carry set on timeout. Keeps BC; destroys A, HL.
wait_link:
        push    bc
        ld      b,0             ; 256 passes of the inner loop per unit
wait_link_poll:
        in      a,(LINK_PORT)   ; 11 cycles
        xor     e               ; 4
        and     d               ; 4
        jr      nz,wait_link_seen ; 7 while nothing changes
        djnz    wait_link_poll  ; 13: 39 cycles a pass
        dec     hl              ; 6
        ld      a,h             ; 4
        or      l               ; 4
        jr      nz,wait_link_poll ; 12
        pop     bc
        scf
        ret
wait_link_seen:
        pop     bc
        or      a
        ret

; Waits until one of the lines in D is pulled (reads low). Same bounds and
; results as wait_link.
wait_pulled:
        ld      e,d
        jr      wait_link

; Waits until the lines in D are released (read high).
wait_released:
        ld      e,0
        jr      wait_link

; Both lines left to the other end, whatever state a byte was left in.
release_lines:
        ld      a,RELEASE_BOTH
        out     (LINK_PORT),a
        ret

; Sends the byte in A.
; Out: carry clear when the PC took all eight bits. Carry set when it was not
; sent: A = 0 when the PC had just begun a byte of its own (nothing was
; driven), A = 1 when the byte broke off: the PC did not answer in time, or
; turned out to be sending at the same instant (then neither side takes a
; byte). Both lines are released either way; interrupts are on again.
send_byte:
        ld      c,a
        ld      b,8
        di
        in      a,(LINK_PORT)
        and     LINES
        cp      LINES
        jr      z,send_byte_bit
        ei
        xor     a
        scf
        ret
send_byte_bit:
        ld      hl,INNER_ANSWER_UNITS
        ld      a,b
        cp      8               ; the first bit: the longer bounds
        jr      nz,send_byte_bound_set
        ld      hl,FIRST_ANSWER_UNITS
send_byte_bound_set:
        srl     c               ; the next bit, lowest first, into carry
        ld      a,TIP           ; a 0 bit: pull the tip, the answer is the ring
        ld      d,RING
        jr      nc,send_byte_pull
        ld      a,RING          ; a 1 bit: the other way round
        ld      d,TIP
send_byte_pull:
        out     (LINK_PORT),a
        call    wait_pulled     ; the PC's answer
        jr      c,send_byte_failed
        ld      hl,HOLD_CHECK_UNITS
        ld      a,b
        cp      8
        jr      nz,send_byte_hold_set
        ld      hl,FIRST_HOLD_CHECK_UNITS
send_byte_hold_set:
        call    wait_released   ; must not go away while we still pull
        jr      nc,send_byte_failed
        call    release_lines
        ld      hl,INNER_ANSWER_UNITS
        call    wait_released   ; the PC lets go in turn
        jr      c,send_byte_failed
        djnz    send_byte_bit
        ei
        or      a
        ret
send_byte_failed:
        call    release_lines
        ei
        ld      a,1
        scf
        ret

; Receives one byte once the PC begins it: waits up to HL units for a line to
; be pulled, with interrupts on, then takes the eight bits.
; Out: A = the byte, carry clear; or carry set when no whole byte came (nothing
; began in time, the PC stopped answering, or it pulled both lines at once).
; Both lines are released either way; interrupts are on again.
receive_byte:
        ld      d,LINES
        call    wait_pulled
        ret     c
        ld      b,8
        di
        ld      hl,INNER_ANSWER_UNITS ; already pulled for the first bit
receive_byte_bit:
        ld      d,LINES
        call    wait_pulled
        jr      c,receive_byte_failed
        in      a,(LINK_PORT)
        and     LINES
        cp      RING            ; only the tip is pulled: a 0 bit
        jr      z,receive_byte_zero
        cp      TIP             ; only the ring is pulled: a 1 bit
        jr      nz,receive_byte_failed ; both pulled, or already gone again
        scf
        ld      a,TIP           ; our answer: the other line
        ld      d,RING          ; held until the PC lets go of its own
        jr      receive_byte_answer
receive_byte_zero:
        or      a               ; A = RING, carry clear: the bit, and our answer
        ld      d,TIP
receive_byte_answer:
        rr      c               ; the bits come lowest first
        out     (LINK_PORT),a
        ld      hl,INNER_ANSWER_UNITS
        call    wait_released
        jr      c,receive_byte_failed
        call    release_lines
        ld      hl,INNER_ANSWER_UNITS
        djnz    receive_byte_bit
        ei
        ld      a,c
        or      a               ; carry clear
        ret
receive_byte_failed:
        call    release_lines
        ei
        scf
        ret
