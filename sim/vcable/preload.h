/* The virtual cable's LD_PRELOAD library (libnjcable.so), in two parts:
 *
 *  - modem_lines.c: Linux ptys have no modem lines, so the modem-line ioctls
 *    on a cable end are answered from the cable's shared state (cables.c
 *    finds the cables); every other call goes to the C library. The cable
 *    ends are recognised by the device number of their pty slave, which
 *    survives Wine's server opening the port and handing the descriptor to
 *    the program.
 *  - open_guard.c: keeps every process it is loaded into away from real
 *    serial hardware (on this kind of machine a COM port that falls back to
 *    /dev/ttyS0 would talk to the system console), and sends the machine's
 *    own device names to cable ends where asked.
 *
 * Built twice, for 64-bit (Wine's server) and 32-bit (Wine's programs), and
 * loaded with LD_PRELOAD='<dir>/$LIB/libnjcable.so' so that each process
 * picks its own. */
#ifndef NJ_PRELOAD_H
#define NJ_PRELOAD_H

#include "cable_state.h"

#define EXPORT __attribute__((visibility("default")))

/* The cable and end a descriptor is, if it is a cable end. */
int nj_find_end(int fd, struct nj_cable_state** cable, int* end);

#endif
