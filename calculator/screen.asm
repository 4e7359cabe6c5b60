; screen.asm: the home screen. Row 0 the title, rows 1-3 the track, rows 4-7
; the keys. Text is drawn with _PutMap, one character at a time, and the
; cursor moved here, so that nothing ever wraps or scrolls behind our back.

TRACK_FIRST_ROW EQU 1
TRACK_LAST_ROW  EQU 3
LAST_ROW        EQU SCREEN_ROWS - 1

; The screen as it is at start: title, legend, nothing playing.
draw_screen:
        bcall   _ClrScrnFull
        ld      a,LAST_ROW
        ld      (textLastRow),a
        ld      hl,frame_rows
draw_screen_row:
        ld      a,(hl)
        inc     hl
        cp      0FFh
        jr      z,show_nothing_playing
        ld      (curRow),a
        xor     a
        ld      (curCol),a
        call    put_text
        jr      draw_screen_row

; Each row of the frame: its number, then its text (large-font codes; these
; are all ASCII, where the font agrees with it).
frame_rows:
        db      0, "Nightjar CLR=end", 0
        db      4, "Y=prev WIN=play", 0
        db      5, "ZOOM=paus 2nd=pc", 0
        db      6, "TRACE=stop <>=5s", 0
        db      7, "GRAPH=next", 0
        db      0FFh

nothing_playing_text:
        db      "nothing playing", 0

show_nothing_playing:
        call    clear_track_area
        ld      hl,nothing_playing_text
        jp      put_text

; Shows a well-formed announcement in annBuffer: the artist from the track
; area's first row, the title from the row after it, both wrapped at spaces
; and cut at the area's end. Both empty: nothing playing.
show_announcement:
        call    map_announcement
        ld      hl,annBuffer
        ld      a,(hl)
        inc     hl
        or      (hl)
        jr      z,show_nothing_playing
        call    clear_track_area
        ld      hl,annBuffer
        call    put_words       ; the artist; HL now at the title
        ld      a,(curCol)
        or      a
        call    nz,next_row     ; the title on a row of its own
        jp      put_words

; Turns the artist's and the title's Windows-1252 bytes into large-font codes
; in place. Only printable bytes are left by then (see announce.asm).
map_announcement:
        ld      hl,annBuffer
        ld      b,2             ; artist, title
        ld      d,0
map_announcement_byte:
        ld      a,(hl)
        or      a
        jr      z,map_announcement_part_end
        sub     20h
        ld      e,a
        push    hl
        ld      hl,cp1252_to_font
        add     hl,de
        ld      a,(hl)
        pop     hl
        ld      (hl),a
        inc     hl
        jr      map_announcement_byte
map_announcement_part_end:
        inc     hl
        djnz    map_announcement_byte
        ret

; Blanks the track area and leaves the cursor at its start, drawing limited
; to it.
clear_track_area:
        ld      a,TRACK_LAST_ROW
        ld      (textLastRow),a
        call    track_area_start
        ld      b,SCREEN_COLS * (TRACK_LAST_ROW - TRACK_FIRST_ROW + 1)
clear_track_area_cell:
        ld      a,' '
        call    put_char
        djnz    clear_track_area_cell
track_area_start:
        ld      a,TRACK_FIRST_ROW
        ld      (curRow),a
        xor     a
        ld      (curCol),a
        ret

; Draws the zero-terminated font codes at HL from the cursor on, as words: a
; word that would straddle a row's end starts the next row instead (one longer
; than a row is broken), and no row starts with a space.
; Out: HL just past the terminating 0.
put_words:
        ld      a,(hl)
        or      a
        jr      z,put_words_end
        cp      ' '
        jr      nz,put_words_word
        ld      a,(curCol)
        or      a
        ld      a,' '
        call    nz,put_char
        inc     hl
        jr      put_words
put_words_word:
        call    word_length
        ld      a,(curCol)
        add     a,b
        cp      SCREEN_COLS + 1
        jr      c,put_words_chars
        ld      a,b
        cp      SCREEN_COLS + 1
        call    c,next_row
put_words_chars:
        ld      a,(hl)
        call    put_char
        inc     hl
        djnz    put_words_chars
        jr      put_words
put_words_end:
        inc     hl
        ret

; B = how many codes from HL on are up to the next space or 0 (at most 255).
word_length:
        push    hl
        ld      b,0
word_length_next:
        ld      a,(hl)
        or      a
        jr      z,word_length_done
        cp      ' '
        jr      z,word_length_done
        inc     hl
        inc     b
        jr      nz,word_length_next
        dec     b
word_length_done:
        pop     hl
        ret

; The cursor to the start of the next row.
next_row:
        xor     a
        ld      (curCol),a
        ld      a,(curRow)
        inc     a
        ld      (curRow),a
        ret

; Draws the zero-terminated font codes at HL from the cursor on.
; Out: HL just past the terminating 0, whether all of it fitted or not.
put_text:
        ld      a,(hl)
        inc     hl
        or      a
        ret     z
        call    put_char
        jr      put_text

; Draws the font code in A at the cursor and moves the cursor on, to the next
; row after the last column; rows past textLastRow are not drawn.
; Keeps BC, DE and HL.
put_char:
        push    bc
        push    de
        push    hl
        ld      c,a
        ld      a,(textLastRow)
        ld      b,a
        ld      a,(curRow)
        cp      b
        jr      z,put_char_draw
        jr      nc,put_char_done
put_char_draw:
        ld      a,c
        bcall   _PutMap
        ld      hl,curCol
        inc     (hl)
        ld      a,(hl)
        cp      SCREEN_COLS
        jr      c,put_char_done
        ld      (hl),0
        ld      hl,curRow
        inc     (hl)
put_char_done:
        pop     hl
        pop     de
        pop     bc
        ret
