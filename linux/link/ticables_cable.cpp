#include "ticables_cable.h"

#include <glib.h>
#include <sys/stat.h>
#include <tilp2/ticables.h>

#include <functional>
#include <cstdio>
#include <utility>

#include "tty_lines.h"

namespace nightjar::native {
namespace {

constexpr int kBothReleased = 3;
// libticables2's error numbers (its error.h, which Debian does not install;
// the numbers are part of its interface, and ticables_error_get knows them).
constexpr int kUsbOpenFailed = 37;   // ERR_LIBUSB_OPEN
constexpr int kUsbClaimFailed = 38;  // ERR_LIBUSB_CLAIM
constexpr std::uint16_t kSilverLinkPid = PID_TIGLUSB;

// The library keeps global state (its USB context among it) for the life of
// the process.
void EnsureLibrary()
{
    static const bool done = [] {
        ticables_library_init();
        return true;
    }();
    (void)done;
}

std::string ErrorText(int code)
{
    char* message = nullptr;
    ticables_error_get(code, &message);
    std::string text = message != nullptr ? message : "libticables2 error " + std::to_string(code);
    if (message != nullptr) ticables_error_free(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    for (char& ch : text)
        if (ch == '\n') ch = ' ';
    return text;
}

CableModel ModelOf(TiCableModel model)
{
    switch (model) {
    case TiCableModel::Black: return CABLE_BLK;
    case TiCableModel::Gray: return CABLE_GRY;
    case TiCableModel::SilverLink: return CABLE_SLV;
    }
    return CABLE_NUL;
}

const char* WordFor(TiCableModel model)
{
    switch (model) {
    case TiCableModel::Black: return "black cable, libticables2's driver";
    case TiCableModel::Gray: return "gray cable";
    case TiCableModel::SilverLink: return "SilverLink";
    }
    return "cable";
}

// Before libticables2 opens a serial device, the black cable's own opening
// tells the failures a user can mend (no such device, permission, in use,
// no serial port) in the same words; libticables2 only says it failed.
void CheckSerialDevice(const std::string& device) { tty::TtyLines::Open(device); }

std::function<void(const std::string&)>& MessageSink()
{
    static std::function<void(const std::string&)> sink;
    return sink;
}

void TakeMessage(const gchar*, GLogLevelFlags, const gchar* message, gpointer)
{
    if (MessageSink() && message != nullptr) MessageSink()(std::string("libticables2: ") + message);
}

// A SilverLink that is plugged in (it was just found) and will not open is,
// on Linux, a device node the user may not use; one that will not be
// claimed is another program's.
tty::OpenFailure OpenFailureOf(int code)
{
    if (code == kUsbOpenFailed) return tty::OpenFailure::Permission;
    if (code == kUsbClaimFailed) return tty::OpenFailure::Busy;
    return tty::OpenFailure::Other;
}

}  // namespace

void RouteTicablesMessages(std::function<void(const std::string&)> sink)
{
    MessageSink() = std::move(sink);
    static const guint handler = g_log_set_handler("ticables", G_LOG_LEVEL_MASK, TakeMessage, nullptr);
    (void)handler;
}

bool TicablesError::TimedOut() const noexcept { return code_ == ERROR_READ_TIMEOUT || code_ == ERROR_WRITE_TIMEOUT; }

std::vector<TiUsbDevice> ListTiUsbDevices()
{
    EnsureLibrary();
    std::vector<TiUsbDevice> found;
    if (!ticables_is_usb_enabled()) return found;
    int* pids = nullptr;
    int count = 0;
    if (ticables_get_usb_devices(&pids, &count) != 0 || pids == nullptr) return found;
    int silverlinks = 0;
    for (int i = 0; i < count; ++i) {
        TiUsbDevice device;
        device.port = i + 1;
        device.pid = static_cast<std::uint16_t>(pids[i]);
        if (device.pid == kSilverLinkPid) device.silverlink_number = ++silverlinks;
        found.push_back(device);
    }
    ticables_free_usb_devices(pids);
    return found;
}

std::string DescribeTiUsbDevice(const TiUsbDevice& device)
{
    if (device.pid == kSilverLinkPid)
        return "SilverLink #" + std::to_string(device.silverlink_number) +
               " (TI-GRAPH LINK USB, 0451:e001): --cable silverlink" +
               (device.silverlink_number > 1 ? ":" + std::to_string(device.silverlink_number) : "");
    char id[16];
    std::snprintf(id, sizeof id, "0451:%04x", device.pid);
    return std::string("a calculator's own USB port (") + id +
           "): it speaks TI's packet protocol, not the link's bytes; use the calculator's 2.5 mm port";
}

TicablesCable TicablesCable::OpenSerial(TiCableModel model, const std::string& device)
{
    CheckSerialDevice(device);
    TicablesCable cable(model, device + " (" + WordFor(model) + ")");
    cable.device_ = device;
    struct stat st {};
    if (::stat(device.c_str(), &st) == 0) {
        cable.rdev_ = st.st_rdev;
        cable.inode_ = st.st_ino;
    }
    cable.Open(PORT_1, device);
    cable.ReleaseWires();
    return cable;
}

TicablesCable TicablesCable::OpenSilverLink(int number)
{
    TicablesCable cable(TiCableModel::SilverLink, "SilverLink #" + std::to_string(number));
    cable.silverlink_number_ = number;
    int port = 0;
    for (const TiUsbDevice& device : ListTiUsbDevices())
        if (device.silverlink_number == number) port = device.port;
    if (port == 0)
        throw tty::OpenError(tty::OpenFailure::NotFound, cable.name_ + ": not plugged in (no such TI USB cable)");
    cable.Open(port, "");
    return cable;
}

void TicablesCable::Open(int port, const std::string& device)
{
    EnsureLibrary();
    handle_ = ticables_handle_new(ModelOf(model_), static_cast<CablePort>(port));
    if (handle_ == nullptr) throw tty::OpenError(tty::OpenFailure::Other, name_ + ": libticables2 has no such cable");
    if (!device.empty() && ticables_cable_set_device(handle_, device.c_str()) != 0)
        throw tty::OpenError(tty::OpenFailure::Other, name_ + ": libticables2 takes no device for it");
    const int code = ticables_cable_open(handle_);
    if (code != 0) throw tty::OpenError(OpenFailureOf(code), name_ + ": " + ErrorText(code));
    open_ = true;
    SetTimeout(1);
}

TicablesCable::TicablesCable(TicablesCable&& other) noexcept
    : model_(other.model_),
      name_(std::move(other.name_)),
      handle_(std::exchange(other.handle_, nullptr)),
      open_(std::exchange(other.open_, false)),
      timeout_(other.timeout_),
      device_(std::move(other.device_)),
      rdev_(other.rdev_),
      inode_(other.inode_),
      silverlink_number_(other.silverlink_number_)
{
}

TicablesCable::~TicablesCable()
{
    if (open_) ticables_cable_close(handle_);
    if (handle_ != nullptr) ticables_handle_del(handle_);
}

void TicablesCable::Check(int code, const char* what) const
{
    if (code != 0) throw TicablesError(code, name_ + ": " + what + ": " + ErrorText(code));
}

void TicablesCable::SetTimeout(unsigned tenths)
{
    if (tenths == timeout_) return;
    ticables_options_set_timeout(handle_, tenths);
    timeout_ = tenths;
}

bool TicablesCable::ByteWaiting()
{
    CableStatus status = STATUS_NONE;
    Check(ticables_cable_check(handle_, &status), "check");
    return (status & STATUS_RX) != 0;
}

void TicablesCable::Send(std::uint8_t byte) { Check(ticables_cable_send(handle_, &byte, 1), "send"); }

std::uint8_t TicablesCable::Receive()
{
    std::uint8_t byte = 0;
    Check(ticables_cable_recv(handle_, &byte, 1), "receive");
    return byte;
}

void TicablesCable::ReleaseWires()
{
    if (model_ == TiCableModel::Black) Check(ticables_cable_set_raw(handle_, kBothReleased), "release the wires");
}

bool TicablesCable::StillThere() const
{
    if (model_ == TiCableModel::SilverLink) {
        for (const TiUsbDevice& device : ListTiUsbDevices())
            if (device.silverlink_number == silverlink_number_) return true;
        return false;
    }
    struct stat st {};
    return ::stat(device_.c_str(), &st) == 0 && st.st_rdev == rdev_ && st.st_ino == inode_;
}

}  // namespace nightjar::native
