// A calculator's end of the black serial link cable, spoken by libticables2,
// the reference implementation of the cable's protocol. It reaches a virtual
// cable end through the cable's preload library: libticables opens the
// machine's own device name (/dev/ttyS<port-1>), which the library's
// redirect turns into the end's pty.
#pragma once

#include <tilp2/ticables.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ticalc {

struct CableError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class TiCable {
public:
    // port: libticables' port number, 1 to 4. timeout_tenths bounds each wait
    // of a transfer.
    TiCable(int port, unsigned timeout_tenths);
    ~TiCable();
    TiCable(const TiCable&) = delete;
    TiCable& operator=(const TiCable&) = delete;

    void Send(const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> Receive(std::size_t count);

    // Sends only the first bits of a byte, bit 0 first, through the raw
    // wire calls, and leaves both wires released: a calculator that stops in
    // the middle of a byte.
    void SendBits(std::uint8_t value, int bits);

private:
    void Check(int err, const char* what) const;
    int Raw() const;
    void AwaitRaw(int mask, bool released) const;

    CableHandle* handle_ = nullptr;
    bool open_ = false;
    unsigned timeout_tenths_;
};

// The device libticables opens for a port, and whether this process may
// safely open it: only when the cable's preload library is loaded and
// redirects that name to a cable end.
std::string DeviceOfPort(int port);
void RequireRedirect(int port);

}  // namespace ticalc
