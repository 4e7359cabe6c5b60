; nightjar.asm: the calculator's end of Nightjar, a remote control for the
; PC's media player over the link cable. Each of eight keys sends its scan
; code as one byte; each track the PC announces is shown; [CLEAR] ends it.
; Between keys it sleeps on the timer interrupt and looks at the link and the
; keypad once a tick.
;
; Assembled with pasmo for a TI-83 Plus program run by Asm(prgmNIGHTJAR):
; the OS places the code at 9D95h and calls it; we return to it with ret.

        INCLUDE "ti83plus.inc"

        ORG     9D95h

; After a byte that broke off, the program is deaf to the link until both
; lines have been idle for QUIET_TICKS ticks in a row. A PC still in the middle
; of a byte it began (a collision, a PC that stalled) pulls a wire for its next
; bit within microseconds of the last; answering it as a first bit would read
; a byte that was never sent. Left unanswered, the PC gives that byte up and
; lets go; a PC starting afresh does so from idle wires and is answered. Deaf
; for DEAF_TICKS at most (2.1 s, over the PC's longest wait, 1.5 s), so that
; a PC that always starts again at once is not shut out for ever.
QUIET_TICKS     EQU 3
DEAF_TICKS      EQU 250

start:
        bcall   _RunIndicOff
        bcall   _DisableApd
        call    release_lines
        call    link_assist_off
        xor     a
        ld      (deafTicks),a
        ld      (pendingKey),a
        call    draw_screen
main_loop:
        halt                    ; sleep to the next timer tick
        call    service_link
        bcall   _GetCSC
        cp      skClear
        jr      z,finish
        call    queue_key
        call    send_pending_key
        jr      main_loop

finish:
        call    release_lines
        call    link_assist_restore
        bcall   _ClrScrnFull
        bcall   _HomeUp
        bcall   _EnableApd
        bcall   _RunIndicOn
        ret

; Once a tick: takes in an announcement when the PC has pulled a wire, unless
; the program is deaf after a broken byte (the deafness runs out here).
service_link:
        in      a,(LINK_PORT)
        and     LINES
        cp      LINES
        jr      z,service_link_idle
        ld      a,(deafTicks)
        or      a
        jr      z,service_link_take
        xor     a               ; not after a quiet spell: maybe the rest of a byte
        ld      (quietTicks),a
        jr      count_deaf_tick
service_link_take:
        call    receive_announcement
        ret     nc
go_deaf:
        ld      a,DEAF_TICKS
        ld      (deafTicks),a
        xor     a
        ld      (quietTicks),a
        ret
service_link_idle:
        ld      a,(deafTicks)
        or      a
        ret     z
        ld      hl,quietTicks
        inc     (hl)
        ld      a,(hl)
        cp      QUIET_TICKS
        jr      c,count_deaf_tick
        xor     a               ; quiet long enough: listening again
        ld      (deafTicks),a
        ret
count_deaf_tick:
        ld      hl,deafTicks
        dec     (hl)
        ret

; A command key (scan code in A) becomes the one to send; other keys, and no
; key (0), are ignored. A newer command key replaces one not yet sent.
queue_key:
        ld      hl,command_keys
        ld      bc,COMMAND_KEY_COUNT
        cpir
        ret     nz
        ld      (pendingKey),a
        ret

; Sends the waiting key's byte when the link is free. A PC busy starting a
; byte keeps the key waiting (it goes after the announcement); a byte that
; breaks off is dropped, never sent again later, and the program goes deaf.
send_pending_key:
        ld      a,(deafTicks)
        or      a
        ret     nz
        ld      a,(pendingKey)
        or      a
        ret     z
        call    send_byte
        jr      nc,send_pending_key_done
        or      a
        ret     z               ; nothing driven: try again next tick
        call    go_deaf
send_pending_key_done:
        xor     a
        ld      (pendingKey),a
        ret

command_keys:
        db      skLeft, skRight, skGraph, skTrace, skZoom, skWindow, skYEqu, sk2nd
COMMAND_KEY_COUNT EQU $ - command_keys

; Turns the link assist off where the model has one, so that the wires are
; ours alone; its setting is kept for the way out.
link_assist_off:
        in      a,(MODEL_PORT)
        and     MODEL_HAS_ASSIST
        ld      (hasLinkAssist),a
        ret     z
        in      a,(ASSIST_PORT)
        ld      (savedLinkAssist),a
        ld      a,ASSIST_OFF
        out     (ASSIST_PORT),a
        ret

link_assist_restore:
        ld      a,(hasLinkAssist)
        or      a
        ret     z
        ld      a,(savedLinkAssist)
        out     (ASSIST_PORT),a
        ret

        INCLUDE "link.asm"
        INCLUDE "announce.asm"
        INCLUDE "screen.asm"
        INCLUDE "charmap.inc"

program_end:

; Working storage in the OS's scratch RAM, so that the program file itself is
; never written to.
hasLinkAssist   EQU appBackUpScreen
savedLinkAssist EQU hasLinkAssist + 1
deafTicks       EQU savedLinkAssist + 1
quietTicks      EQU deafTicks + 1
pendingKey      EQU quietTicks + 1
textLastRow     EQU pendingKey + 1
annParts        EQU textLastRow + 1
annFlawed       EQU annParts + 1
annCount        EQU annFlawed + 1
annWrite        EQU annCount + 2
annBuffer       EQU annWrite + 2
SCRATCH_END     EQU annBuffer + ANN_CAPACITY
        IF      SCRATCH_END > appBackUpScreen + 768
        .ERROR  working storage does not fit in appBackUpScreen
        ENDIF
