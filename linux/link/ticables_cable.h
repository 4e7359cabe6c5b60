// One cable driven by libticables2 (Debian's libticables2-8), the field's
// library for TI's link cables: its handle, opened and closed once, and the
// library's calls on it with its error numbers turned into exceptions.
//
// libticables2 is not thread-safe: every call on a cable, and the USB probe,
// belongs to one thread at a time. Its timeouts are tenths of a second of
// the process's CPU time on serial cables and per USB packet on the
// SilverLink; TicablesLink (ticables_link.h) bounds the waits in wall time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

struct _CableHandle;

namespace nightjar::native {

// The libticables2 cables worth having for a TI-83 Plus-family calculator's
// 2.5 mm port.
enum class TiCableModel {
    Black,       // BLK: libticables2's own bit driver for the black serial cable
    Gray,        // GRY: the gray serial cable, which moves whole bytes at 9600 baud
    SilverLink,  // SLV: TI-GRAPH LINK USB, 0451:e001
};

// A call libticables2 refused or a transfer it gave up on.
class TicablesError : public std::runtime_error {
public:
    TicablesError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    int code() const noexcept { return code_; }
    bool TimedOut() const noexcept;

private:
    int code_;
};

// TI's USB devices as libticables2's USB probe finds them, in its port order.
struct TiUsbDevice {
    int port = 0;             // libticables2's port number: 1 for the first device
    std::uint16_t pid = 0;    // USB product id (vendor 0451)
    int silverlink_number = 0;  // 1 for the first SilverLink, ...; 0 for other devices
};
std::vector<TiUsbDevice> ListTiUsbDevices();
// "SilverLink (TI-GRAPH LINK USB)", or what the device is when it is no link cable.
std::string DescribeTiUsbDevice(const TiUsbDevice& device);

// libticables2 tells its warnings through GLib's log; they go to `sink`
// (nothing, when it is empty) instead of straight to standard error.
void RouteTicablesMessages(std::function<void(const std::string&)> sink);

class TicablesCable {
public:
    // A serial model on `device` (a path), or the `number`th SilverLink.
    // Throws tty::OpenError.
    static TicablesCable OpenSerial(TiCableModel model, const std::string& device);
    static TicablesCable OpenSilverLink(int number);

    TicablesCable(TicablesCable&& other) noexcept;
    TicablesCable& operator=(TicablesCable&&) = delete;
    TicablesCable(const TicablesCable&) = delete;
    ~TicablesCable();

    TiCableModel model() const noexcept { return model_; }
    // "/dev/ttyUSB0 (gray cable)", "SilverLink #1".
    const std::string& name() const noexcept { return name_; }

    // Each call throws TicablesError.
    void SetTimeout(unsigned tenths);
    bool ByteWaiting();  // ticables_cable_check: the far end has begun a byte (or one is buffered)
    void Send(std::uint8_t byte);
    std::uint8_t Receive();
    // Lets go of both of the black cable's wires (only the black cable has them).
    void ReleaseWires();

    // Whether what was opened is still there: the same device node for a
    // serial cable, the Nth SilverLink still plugged in.
    bool StillThere() const;

private:
    TicablesCable(TiCableModel model, std::string name) : model_(model), name_(std::move(name)) {}
    void Open(int port, const std::string& device);
    void Check(int code, const char* what) const;

    TiCableModel model_;
    std::string name_;
    _CableHandle* handle_ = nullptr;
    bool open_ = false;
    unsigned timeout_ = 0;
    std::string device_;  // serial only
    dev_t rdev_ = 0;
    ino_t inode_ = 0;
    int silverlink_number_ = 0;
};

}  // namespace nightjar::native
