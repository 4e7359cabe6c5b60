#include "serial_port.h"

namespace nightjar::serial {
namespace {

std::wstring SystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : L"error " + std::to_wstring(error);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
        message.pop_back();
    return message;
}

// Why a port could not be opened, in the words a user would look for.
std::wstring OpenFailureReason(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return L"the port does not exist";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return L"the port is in use";
    default:
        return SystemMessage(error);
    }
}

Status Win32Failure(const std::wstring& what)
{
    const DWORD error = ::GetLastError();
    return Status::Error(error ? HRESULT_FROM_WIN32(error) : E_FAIL, what + L": " + SystemMessage(error));
}

}  // namespace

Status SerialPort::Open(short number)
{
    number_ = number;
    const std::wstring path = L"\\\\.\\" + Name();
    nj::unique_hfile port(calls_->OpenPort(path.c_str()));
    if (!port) {
        const DWORD error = ::GetLastError();
        return Status::Error(HRESULT_FROM_WIN32(error), Name() + L" could not be opened: " + OpenFailureReason(error));
    }

    // Only the modem lines serve: no flow control may take them over, and
    // both outputs start asserted, which releases both wires.
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    // A name can lead to a device that is no serial port (Wine keeps one for
    // every COM number without a device): it cannot take a DCB.
    if (!calls_->GetCommState(port.get(), dcb))
        return Win32Failure(Name() + L" could not be opened: it is not a usable serial port");
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!calls_->SetCommState(port.get(), dcb)) return Win32Failure(Name() + L" could not be configured");
    dcb_ = dcb;
    escape_refused_ = false;
    for (const DWORD function : {SETRTS, SETDTR}) {
        if (auto status = Drive(port.get(), function); !status.ok()) return status;
    }

    port_ = std::move(port);
    return Status::Ok();
}

void SerialPort::Close() noexcept
{
    if (!port_) return;
    // Leave the cable idle: a wire left pulled would read at the far end as
    // the start of a bit.
    try {
        Drive(port_.get(), SETRTS);
        Drive(port_.get(), SETDTR);
    } catch (...) {
        // Only the words of a failure can throw; the port closes all the same.
    }
    port_.reset();
}

Status SerialPort::Drive(DWORD function) { return Drive(port_.get(), function); }

Status SerialPort::ReadLine(DWORD line, bool& asserted)
{
    DWORD modem = 0;
    if (!calls_->GetCommModemStatus(port_.get(), modem)) return Win32Failure(L"Cannot read the lines of " + Name());
    asserted = (modem & line) != 0;
    return Status::Ok();
}

// Some serial drivers (USB adapters among them) refuse EscapeCommFunction
// but drive RTS and DTR from the settings, as the flow-control fields of a
// DCB: once refused, the lines go that way for as long as the port is open.
Status SerialPort::Drive(HANDLE port, DWORD function)
{
    if (!escape_refused_) {
        if (calls_->EscapeCommFunction(port, function)) return Status::Ok();
        escape_refused_ = true;
    }
    return DriveThroughState(port, function);
}

Status SerialPort::DriveThroughState(HANDLE port, DWORD function)
{
    DCB dcb = dcb_;
    switch (function) {
    case SETRTS:
    case CLRRTS:
        dcb.fRtsControl = function == SETRTS ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        break;
    case SETDTR:
    case CLRDTR:
        dcb.fDtrControl = function == SETDTR ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        break;
    default:
        return Status::Plain(E_INVALIDARG);
    }
    if (!calls_->SetCommState(port, dcb)) return Win32Failure(L"Cannot set the lines of " + Name());
    dcb_ = dcb;
    return Status::Ok();
}

}  // namespace nightjar::serial
