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

start:
        bcall   _RunIndicOff
        bcall   _DisableApd
        call    release_lines
        call    link_assist_off
        xor     a
        ld      (linkBlocked),a
        call    draw_screen
main_loop:
        halt                    ; sleep to the next timer tick
        call    service_link
        bcall   _GetCSC
        cp      skClear
        jr      z,finish
        call    send_key
        jr      main_loop

finish:
        call    release_lines
        call    link_assist_restore
        bcall   _ClrScrnFull
        bcall   _HomeUp
        bcall   _EnableApd
        bcall   _RunIndicOn
        ret

; Takes in an announcement when the PC has pulled a wire. After a byte that
; broke off, the link is left alone until both lines have been seen released
; at a tick: a PC still holding a wire is finishing a byte it gave up on, and
; taking its next bit for a first one would read a byte that was never sent.
service_link:
        in      a,(LINK_PORT)
        and     LINES
        cp      LINES
        jr      nz,service_link_pulled
        xor     a
        ld      (linkBlocked),a
        ret
service_link_pulled:
        ld      a,(linkBlocked)
        or      a
        ret     nz
        call    receive_announcement
        ret     nc
block_link:
        ld      a,1
        ld      (linkBlocked),a
        ret

; Sends the scan code in A when it is one of the eight command keys; other
; keys (and no key, 0) are ignored. A key the link cannot take now is dropped.
; send_byte itself finds a PC still busy with a byte: the lines are not idle,
; or its line goes away under ours.
send_key:
        ld      hl,command_keys
        ld      bc,COMMAND_KEY_COUNT
        cpir
        ret     nz
        call    send_byte
        jr      c,block_link
        xor     a               ; the PC took a byte: it is in step with us
        ld      (linkBlocked),a
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
linkBlocked     EQU savedLinkAssist + 1
textLastRow     EQU linkBlocked + 1
annParts        EQU textLastRow + 1
annFlawed       EQU annParts + 1
annCount        EQU annFlawed + 1
annWrite        EQU annCount + 2
annBuffer       EQU annWrite + 2
SCRATCH_END     EQU annBuffer + ANN_CAPACITY
        IF      SCRATCH_END > appBackUpScreen + 768
        .ERROR  working storage does not fit in appBackUpScreen
        ENDIF
