; announce.asm: taking in a track announcement from the PC and judging it.
;
; An announcement is the artist's bytes, 0, the title's bytes, 0, then the
; end byte 2, in Windows-1252. It is kept whole in annBuffer and shown only
; once the end byte has come and every byte was printable: one that is cut
; short, carries control bytes or does not fit leaves the screen as it was.

END_OF_ANNOUNCEMENT EQU 2
ANN_CAPACITY    EQU 700         ; artist, 0, title, 0 and the end byte
; A PC that keeps sending past the capacity is followed to its end byte (so
; that it is not left waiting) but no further than this many bytes in all.
ANN_DRAIN_LIMIT EQU 2048

; Takes in the announcement the PC has just begun and shows it when it is
; well formed. Out: carry set when the link broke off (lines released).
receive_announcement:
        ld      hl,annBuffer
        ld      (annWrite),hl
        ld      hl,0
        ld      (annCount),hl
        xor     a
        ld      (annParts),a
        ld      (annFlawed),a
receive_announcement_next:
        ld      hl,FIRST_ANSWER_UNITS
        call    receive_byte
        ret     c
        call    keep_announcement_byte
        ret     c
        ld      a,(annParts)
        cp      3               ; artist, title and end byte all in
        jr      nz,receive_announcement_next
        ld      a,(annFlawed)
        or      a
        ret     nz              ; not shown; the link itself is fine (carry clear)
        jp      show_announcement

; Notes the byte in A: which part of the announcement it ends, whether it is
; printable, and keeps it while there is room.
; Out: carry set when the PC has sent more than any announcement may hold.
keep_announcement_byte:
        ld      c,a
        ld      hl,(annCount)
        inc     hl
        ld      (annCount),hl
        ld      de,ANN_DRAIN_LIMIT + 1
        or      a
        sbc     hl,de
        ccf
        ret     c               ; runaway: give up on the link
        ld      a,(annParts)
        cp      2
        jr      z,keep_announcement_end
        ld      a,c
        or      a
        jr      z,keep_announcement_part
        cp      20h             ; control bytes are never text
        jr      c,keep_announcement_flaw
        cp      7Fh
        jr      z,keep_announcement_flaw
        jr      keep_announcement_store
keep_announcement_flaw:
        ld      a,1
        ld      (annFlawed),a
        jr      keep_announcement_store
keep_announcement_end:          ; whatever comes after the title's 0 ends it
        ld      a,c
        cp      END_OF_ANNOUNCEMENT
        jr      z,keep_announcement_part
        ld      a,1
        ld      (annFlawed),a
keep_announcement_part:
        ld      hl,annParts
        inc     (hl)
keep_announcement_store:
        ld      hl,(annWrite)
        ld      de,annBuffer + ANN_CAPACITY
        or      a
        sbc     hl,de
        jr      nc,keep_announcement_full
        add     hl,de
        ld      (hl),c
        inc     hl
        ld      (annWrite),hl
        or      a
        ret
keep_announcement_full:
        ld      a,1             ; too long to show; read on to its end
        ld      (annFlawed),a
        or      a
        ret
