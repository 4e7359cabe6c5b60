#include "ti_cable.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <thread>

namespace ticalc {
namespace {

// Raw wire states as libticables gives them: bit 0 wire A, bit 1 wire B,
// set while the wire is released.
constexpr int kWireA = 1;
constexpr int kWireB = 2;
constexpr int kBothReleased = kWireA | kWireB;

struct Library {
    Library() { ticables_library_init(); }
    ~Library() { ticables_library_exit(); }
};

std::string ErrorText(int err)
{
    char* message = nullptr;
    ticables_error_get(err, &message);
    std::string text = message ? message : "libticables error " + std::to_string(err);
    if (message) ticables_error_free(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

std::string DeviceOfPort(int port)
{
    return "/dev/ttyS" + std::to_string(port - 1);
}

void RequireRedirect(int port)
{
    if (dlsym(RTLD_DEFAULT, "nj_cable_preload_version") == nullptr)
        throw CableError("the virtual cable's preload library is not loaded");
    const char* list = std::getenv("NJ_CABLE_REDIRECT");
    const std::string want = DeviceOfPort(port) + "=";
    if (list == nullptr || std::strstr(list, want.c_str()) == nullptr)
        throw CableError("NJ_CABLE_REDIRECT does not send " + DeviceOfPort(port) + " to a cable end");
}

TiCable::TiCable(int port, unsigned timeout_tenths) : timeout_tenths_(timeout_tenths)
{
    static Library library;
    RequireRedirect(port);
    handle_ = ticables_handle_new(CABLE_BLK, static_cast<CablePort>(port));
    if (handle_ == nullptr) throw CableError("no black-link cable handle for port " + std::to_string(port));
    ticables_options_set_timeout(handle_, timeout_tenths);
    ticables_options_set_delay(handle_, 0);
    Check(ticables_cable_open(handle_), "open");
    open_ = true;
}

TiCable::~TiCable()
{
    if (open_) ticables_cable_close(handle_);
    if (handle_) ticables_handle_del(handle_);
}

void TiCable::Check(int err, const char* what) const
{
    if (err != 0) throw CableError(std::string(what) + ": " + ErrorText(err));
}

void TiCable::Send(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::uint8_t> copy(bytes);
    if (!copy.empty()) Check(ticables_cable_send(handle_, copy.data(), static_cast<std::uint32_t>(copy.size())), "send");
}

std::vector<std::uint8_t> TiCable::Receive(std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    if (count > 0) Check(ticables_cable_recv(handle_, bytes.data(), static_cast<std::uint32_t>(count)), "receive");
    return bytes;
}

int TiCable::Raw() const
{
    int state = 0;
    Check(ticables_cable_get_raw(handle_, &state), "read the wires");
    return state;
}

void TiCable::AwaitRaw(int mask, bool released) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100 * timeout_tenths_);
    while (((Raw() & mask) != 0) != released) {
        if (std::chrono::steady_clock::now() > deadline) throw CableError("no answer from the other end");
        std::this_thread::yield();
    }
}

void TiCable::SendBits(std::uint8_t value, int bits)
{
    for (int i = 0; i < bits; ++i) {
        const bool one = (value >> i) & 1;
        const int mine = one ? kWireB : kWireA;  // the wire this bit pulls
        const int theirs = one ? kWireA : kWireB;
        Check(ticables_cable_set_raw(handle_, kBothReleased & ~mine), "pull a wire");
        AwaitRaw(theirs, false);
        Check(ticables_cable_set_raw(handle_, kBothReleased), "release the wires");
        AwaitRaw(theirs, true);
    }
}

}  // namespace ticalc
