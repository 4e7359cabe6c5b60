// One COM port opened for its modem-control lines only, over the Win32 comm
// calls: RTS and DTR out, CTS and DSR in. What the line control asks of a
// port, with every failure in the words a user would look for.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include <nj/unique.h>

#include "comm_calls.h"

namespace nightjar::serial {

// The outcome of one operation. A failure with a description reaches a
// late-bound caller as an exception (EXCEPINFO); one without is a plain
// Automation error such as a type mismatch.
struct Status {
    HRESULT hr = S_OK;
    std::wstring description;

    static Status Ok() { return {}; }
    static Status Plain(HRESULT hr) { return {hr, {}}; }
    static Status Error(HRESULT hr, std::wstring description) { return {hr, std::move(description)}; }
    bool ok() const noexcept { return SUCCEEDED(hr); }
};

class SerialPort {
public:
    explicit SerialPort(std::shared_ptr<CommCalls> calls) noexcept : calls_(std::move(calls)) {}
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort() { Close(); }

    bool IsOpen() const noexcept { return static_cast<bool>(port_); }

    // Opens COM`number` with no flow control and both outputs asserted
    // (both wires released).
    Status Open(short number);
    // Asserts both outputs (an idle cable) and closes; nothing when closed.
    void Close() noexcept;

    // SETRTS, CLRRTS, SETDTR or CLRDTR.
    Status Drive(DWORD function);
    // Whether the input line (MS_CTS_ON or MS_DSR_ON) is asserted.
    Status ReadLine(DWORD line, bool& asserted);

private:
    Status Drive(HANDLE port, DWORD function);
    Status DriveThroughState(HANDLE port, DWORD function);
    std::wstring Name() const { return L"COM" + std::to_wstring(number_); }

    std::shared_ptr<CommCalls> calls_;
    short number_ = 0;
    nj::unique_hfile port_;
    // The open port's settings, for driving its lines when the driver
    // refuses to do it directly.
    DCB dcb_{};
    bool escape_refused_ = false;
};

}  // namespace nightjar::serial
