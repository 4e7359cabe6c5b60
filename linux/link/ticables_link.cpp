#include "ticables_link.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <system_error>

#include "timed_link.h"

namespace nightjar::native {
namespace {

// libticables2's timeouts are in tenths of a second.
constexpr unsigned kShortestTimeout = 1;
constexpr unsigned kFirstAnswerTimeout = static_cast<unsigned>(kPhaseLimit.count() / 100);

tty::UniqueFd MakeWakeFd()
{
    tty::UniqueFd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd) throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}

}  // namespace

TicablesLink::TicablesLink(TicablesCable cable) : cable_(std::move(cable)), wake_(MakeWakeFd()) {}

// A timeout drops the transfer; any other failure is the cable going away
// when what was opened is gone, and the cable's own error when it is not.
template <class Call>
auto TicablesLink::Guarded(Call call)
{
    try {
        return call();
    } catch (const TicablesError& error) {
        if (error.TimedOut()) {
            Drop();
            throw HandshakeTimeout(error.what());
        }
        if (!cable_.StillThere()) throw CableGone(error.what());
        throw;
    }
}

LinkState TicablesLink::Current()
{
    // A serial device pulled out leaves libticables2 reading wires that
    // are never released; the device node tells.
    if (cable_.model() != TiCableModel::SilverLink && !cable_.StillThere())
        throw CableGone(cable_.name() + ": the device is gone");
    if (!cable_.ByteWaiting()) {
        idle_seen_ = true;
        return LinkState::Idle;
    }
    return idle_seen_ ? LinkState::SenderWaiting : LinkState::Settling;
}

// Only the black cable has wires to be left pulled; the byte cables' own
// hardware frames every byte.
void TicablesLink::Drop()
{
    if (cable_.model() != TiCableModel::Black) return;
    try {
        cable_.ReleaseWires();
        idle_seen_ = !cable_.ByteWaiting();
    } catch (const TicablesError&) {
        idle_seen_ = false;  // the next Look finds out what became of the cable
    }
}

LinkState TicablesLink::Look()
{
    return Guarded([&] { return last_seen_ = Current(); });
}

std::uint8_t TicablesLink::ReceiveByte()
{
    return Guarded([&] {
        cable_.SetTimeout(kShortestTimeout);
        return cable_.Receive();
    });
}

void TicablesLink::SendByte(std::uint8_t value)
{
    Guarded([&] {
        if (Current() != LinkState::Idle) {
            Drop();
            throw HandshakeTimeout(cable_.name() + ": the other end has begun a byte: both sent at once");
        }
        cable_.SetTimeout(kFirstAnswerTimeout);
        cable_.Send(value);
    });
}

void TicablesLink::WaitForActivity(std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    Guarded([&] {
        for (;;) {
            if (Current() != last_seen_) return;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return;
            if (Interrupted(std::min(left, kCheckInterval))) return;
        }
    });
}

bool TicablesLink::Interrupted(std::chrono::milliseconds wait)
{
    pollfd wake{wake_.get(), POLLIN, 0};
    if (::poll(&wake, 1, static_cast<int>(wait.count())) <= 0) return false;
    std::uint64_t count = 0;
    while (::read(wake_.get(), &count, sizeof count) > 0) {
    }
    return true;
}

void TicablesLink::Interrupt() noexcept
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_.get(), &one, sizeof one);
}

}  // namespace nightjar::native
