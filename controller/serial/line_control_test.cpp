// The serial line control under Wine. COM1 and COM2 are the two ends of a
// virtual cable for the run (see sim/vcable/cable.sh); COM3 has no device.
#include "dispatch_lines.h"
#include "line_control.h"

#include <nj/dispatch.h>
#include <nj/unique.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace nightjar::serial {
namespace {

using Microsoft::WRL::ComPtr;

constexpr HRESULT kInvalidPortNumber = static_cast<HRESULT>(0x800A1F42);
constexpr HRESULT kPortAlreadyOpen = static_cast<HRESULT>(0x800A1F45);
constexpr HRESULT kPortNotOpen = static_cast<HRESULT>(0x800A1F4C);
constexpr HRESULT kNotValidWhilePortOpen = static_cast<HRESULT>(0x800A1F40);
constexpr HRESULT kInvalidPropertyValue = static_cast<HRESULT>(0x800A017C);

VARIANT I2(short value)
{
    VARIANT v{};
    v.vt = VT_I2;
    v.iVal = value;
    return v;
}

VARIANT I4(LONG value)
{
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT Bool(bool value)
{
    VARIANT v{};
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

// What one Invoke gave: its HRESULT, and the exception it raised if any.
struct Outcome {
    HRESULT hr = S_OK;
    HRESULT scode = S_OK;
    std::wstring description;
    nj::unique_variant value;
};

::testing::AssertionResult Raised(const Outcome& outcome, HRESULT scode, const std::wstring& description)
{
    if (outcome.hr != DISP_E_EXCEPTION)
        return ::testing::AssertionFailure() << "hr " << std::hex << outcome.hr << ", no exception";
    if (outcome.scode != scode)
        return ::testing::AssertionFailure() << "scode " << std::hex << outcome.scode << ", expected " << scode
                                             << ": " << ::testing::PrintToString(outcome.description);
    if (outcome.description.find(description) == std::wstring::npos)
        return ::testing::AssertionFailure() << "description \"" << ::testing::PrintToString(outcome.description)
                                             << "\" lacks " << ::testing::PrintToString(description);
    return ::testing::AssertionSuccess();
}

struct LineControlTest : ::testing::Test {
    ComPtr<IDispatch> com1 = Create();
    ComPtr<IDispatch> com2 = Create();

    static ComPtr<IDispatch> Create()
    {
        ComPtr<IDispatch> control;
        EXPECT_EQ(CreateLineControl(IID_PPV_ARGS(&control)), S_OK);
        return control;
    }

    static std::unique_ptr<Outcome> Invoke(IDispatch* control, DISPID id, WORD flags, DISPPARAMS params)
    {
        auto outcome = std::make_unique<Outcome>();
        EXCEPINFO exception{};
        outcome->hr = control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &outcome->value,
                                      &exception, nullptr);
        nj::unique_bstr source(exception.bstrSource), description(exception.bstrDescription),
            help(exception.bstrHelpFile);
        outcome->scode = exception.scode;
        if (description) outcome->description = description.get();
        return outcome;
    }

    static std::unique_ptr<Outcome> Put(IDispatch* control, DISPID id, VARIANT value)
    {
        DISPID named = DISPID_PROPERTYPUT;
        return Invoke(control, id, DISPATCH_PROPERTYPUT, DISPPARAMS{&value, &named, 1, 1});
    }

    static std::unique_ptr<Outcome> Get(IDispatch* control, DISPID id)
    {
        return Invoke(control, id, DISPATCH_PROPERTYGET, DISPPARAMS{});
    }

    static bool Reads(IDispatch* control, DISPID id)
    {
        auto outcome = Get(control, id);
        EXPECT_EQ(outcome->hr, S_OK) << std::hex << outcome->hr;
        EXPECT_EQ(outcome->value.vt, VT_BOOL);
        return outcome->value.boolVal == VARIANT_TRUE;
    }

    static void Open(IDispatch* control, short port)
    {
        ASSERT_EQ(Put(control, kDispPortNumber, I2(port))->hr, S_OK);
        auto opened = Put(control, kDispPortOpen, Bool(true));
        ASSERT_EQ(opened->hr, S_OK) << ::testing::PrintToString(opened->description);
    }
};

TEST_F(LineControlTest, PortNumberOutsideOneToFourIsRefusedAndKeepsThePrevious)
{
    ASSERT_EQ(Put(com1.Get(), kDispPortNumber, I2(3))->hr, S_OK);
    for (LONG number : {0, 5, -1, 65536}) {
        EXPECT_TRUE(Raised(*Put(com1.Get(), kDispPortNumber, I4(number)), kInvalidPortNumber,
                           L"Invalid port number " + std::to_wstring(number) + L": the port number must be 1 to 4"))
            << number;
    }
    auto number = Get(com1.Get(), kDispPortNumber);
    EXPECT_EQ(number->value.vt, VT_I2);
    EXPECT_EQ(number->value.iVal, 3);
}

TEST_F(LineControlTest, PortWithNoDeviceFailsToOpenAndStaysClosed)
{
    ASSERT_EQ(Put(com1.Get(), kDispPortNumber, I2(3))->hr, S_OK);
    auto outcome = Put(com1.Get(), kDispPortOpen, Bool(true));
    // Whether the name exists at all depends on the system, so only the
    // start of the description is fixed.
    EXPECT_EQ(outcome->hr, DISP_E_EXCEPTION);
    EXPECT_EQ(HRESULT_FACILITY(outcome->scode), FACILITY_WIN32) << std::hex << outcome->scode;
    EXPECT_EQ(outcome->description.rfind(L"COM3 could not be opened: ", 0), 0U)
        << ::testing::PrintToString(outcome->description);
    EXPECT_FALSE(Reads(com1.Get(), kDispPortOpen));
    EXPECT_TRUE(Raised(*Get(com1.Get(), kDispWireAInput), kPortNotOpen, L"Port is not open"));
}

TEST_F(LineControlTest, EveryWireAccessWhileClosedIsAnError)
{
    auto expect_all_refused = [&] {
        const std::wstring text = L"Port is not open: open COM1 before using its lines";
        EXPECT_TRUE(Raised(*Put(com1.Get(), kDispWireAOutput, I4(0)), kPortNotOpen, text));
        EXPECT_TRUE(Raised(*Put(com1.Get(), kDispWireBOutput, Bool(false)), kPortNotOpen, text));
        EXPECT_TRUE(Raised(*Get(com1.Get(), kDispWireAInput), kPortNotOpen, text));
        EXPECT_TRUE(Raised(*Get(com1.Get(), kDispWireBInput), kPortNotOpen, text));
    };
    expect_all_refused();  // never opened
    Open(com1.Get(), 1);
    ASSERT_EQ(Put(com1.Get(), kDispPortOpen, Bool(false))->hr, S_OK);
    expect_all_refused();  // closed again
}

TEST_F(LineControlTest, MalformedCallsGetAutomationErrors)
{
    VARIANT value = I2(1);
    EXPECT_EQ(Invoke(com1.Get(), kDispPortNumber, DISPATCH_PROPERTYPUT, DISPPARAMS{&value, nullptr, 1, 0})->hr,
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(Put(com1.Get(), 42, I2(1))->hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Put(com1.Get(), kDispWireAInput, Bool(true))->hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Get(com1.Get(), kDispWireAOutput)->hr, DISP_E_MEMBERNOTFOUND);

    VARIANT text{};
    text.vt = VT_BSTR;
    text.bstrVal = ::SysAllocString(L"two");
    EXPECT_EQ(Put(com1.Get(), kDispPortNumber, text)->hr, DISP_E_TYPEMISMATCH);
    ::VariantClear(&text);

    DISPPARAMS none{};
    EXPECT_EQ(com1->Invoke(kDispPortOpen, IID_IUnknown, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(LineControlTest, KnowsItsOwnMemberNames)
{
    LPOLESTR known[] = {const_cast<LPOLESTR>(L"portopen")};
    DISPID id = 0;
    EXPECT_EQ(com1->GetIDsOfNames(IID_NULL, known, 1, 0, &id), S_OK);
    EXPECT_EQ(id, kDispPortOpen);
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Baud")};
    EXPECT_EQ(com1->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST_F(LineControlTest, OpenReleasesBothWiresAndEitherEndPullsThemForBoth)
{
    Open(com1.Get(), 1);
    Open(com2.Get(), 2);
    for (DISPID input : {kDispWireAInput, kDispWireBInput}) {
        EXPECT_TRUE(Reads(com1.Get(), input));
        EXPECT_TRUE(Reads(com2.Get(), input));
    }

    ASSERT_EQ(Put(com1.Get(), kDispWireAOutput, I4(0))->hr, S_OK);
    EXPECT_FALSE(Reads(com2.Get(), kDispWireAInput));
    EXPECT_FALSE(Reads(com1.Get(), kDispWireAInput));
    EXPECT_TRUE(Reads(com2.Get(), kDispWireBInput));
    ASSERT_EQ(Put(com1.Get(), kDispWireAOutput, I2(2))->hr, S_OK);  // any integer type serves
    EXPECT_TRUE(Reads(com2.Get(), kDispWireAInput));

    ASSERT_EQ(Put(com2.Get(), kDispWireBOutput, I2(0))->hr, S_OK);
    EXPECT_FALSE(Reads(com1.Get(), kDispWireBInput));
    EXPECT_TRUE(Reads(com1.Get(), kDispWireAInput));
    ASSERT_EQ(Put(com1.Get(), kDispWireBOutput, Bool(false))->hr, S_OK);
    ASSERT_EQ(Put(com2.Get(), kDispWireBOutput, I4(-1))->hr, S_OK);
    EXPECT_FALSE(Reads(com2.Get(), kDispWireBInput));  // COM1 still pulls it
    ASSERT_EQ(Put(com1.Get(), kDispWireBOutput, Bool(true))->hr, S_OK);
    EXPECT_TRUE(Reads(com2.Get(), kDispWireBInput));

    EXPECT_TRUE(Raised(*Put(com1.Get(), kDispWireAOutput, I4(1)), kInvalidPropertyValue,
                       L"Invalid value 1 for wire A: 0 pulls it, 2 releases it"));
    EXPECT_TRUE(Reads(com2.Get(), kDispWireAInput));
}

TEST_F(LineControlTest, AnOpenPortCannotBeOpenedAgainNorRenumbered)
{
    Open(com1.Get(), 1);
    EXPECT_TRUE(Raised(*Put(com1.Get(), kDispPortOpen, Bool(true)), kPortAlreadyOpen, L"Port already open: COM1"));
    EXPECT_TRUE(Raised(*Put(com1.Get(), kDispPortNumber, I2(2)), kNotValidWhilePortOpen,
                       L"The port number cannot change while COM1 is open"));
    EXPECT_TRUE(Reads(com1.Get(), kDispPortOpen));
    EXPECT_TRUE(Reads(com1.Get(), kDispWireAInput));

    ASSERT_EQ(Put(com1.Get(), kDispPortOpen, Bool(false))->hr, S_OK);
    EXPECT_FALSE(Reads(com1.Get(), kDispPortOpen));
    Open(com1.Get(), 1);  // and once closed it opens again
}

TEST_F(LineControlTest, ClosingLeavesTheCableIdle)
{
    Open(com1.Get(), 1);
    Open(com2.Get(), 2);
    ASSERT_EQ(Put(com1.Get(), kDispWireAOutput, I4(0))->hr, S_OK);
    ASSERT_EQ(Put(com1.Get(), kDispWireBOutput, Bool(false))->hr, S_OK);
    ASSERT_EQ(Put(com1.Get(), kDispPortOpen, Bool(false))->hr, S_OK);
    EXPECT_TRUE(Reads(com2.Get(), kDispWireAInput));
    EXPECT_TRUE(Reads(com2.Get(), kDispWireBInput));
}

TEST(DispatchLinesTest, ControlErrorsBecomeLinkErrorsWithTheControlsWords)
{
    ComPtr<IDispatch> control;
    ASSERT_EQ(CreateLineControl(IID_PPV_ARGS(&control)), S_OK);
    DispatchLines lines(control);
    try {
        lines.WireBInput();
        FAIL() << "no error on a closed port";
    } catch (const link::LinkError& e) {
        EXPECT_EQ(e.hr(), kPortNotOpen);
        EXPECT_STREQ(e.what(), "Port is not open: open COM1 before using its lines (0x800A1F4C)");
    }
    try {
        OpenPort(*control.Get(), 9);
        FAIL() << "port 9 opened";
    } catch (const nj::dispatch::Error& e) {
        EXPECT_EQ(e.hr(), kInvalidPortNumber);
    }
}

// Yields, and gives up with an error once the test has run too long, so
// that a broken cable fails the test instead of hanging it.
std::function<void()> BoundedYield()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    return [deadline] {
        if (std::chrono::steady_clock::now() > deadline) throw link::LinkError(E_FAIL, "timed out");
        std::this_thread::yield();
    };
}

// Both ends of the cable in one process, each on its own thread.
TEST(DispatchLinesTest, TheLinkRunsOverTheControlAcrossTheCable)
{
    ComPtr<IDispatch> sender, receiver;
    ASSERT_EQ(CreateLineControl(IID_PPV_ARGS(&sender)), S_OK);
    ASSERT_EQ(CreateLineControl(IID_PPV_ARGS(&receiver)), S_OK);
    OpenPort(*sender.Get(), 1);
    OpenPort(*receiver.Get(), 2);

    auto received = std::async(std::launch::async, [&] {
        DispatchLines lines(receiver);
        const auto yield = BoundedYield();
        link::Xfer xfer(lines, yield);
        std::string bytes;
        for (int i = 0; i < 4; ++i) {
            while (lines.WireBInput() && lines.WireAInput()) yield();
            bytes += static_cast<char>(xfer.ReceiveByte());
        }
        return bytes;
    });
    DispatchLines lines(sender);
    link::Xfer xfer(lines, BoundedYield());
    xfer.SendString(u"\u00e9\x01\xff", [](char16_t ch) -> std::uint32_t { return ch; });
    EXPECT_EQ(received.get(), std::string("\xe9\x01\xff\0", 4));
}


// The system's serial calls, except that EscapeCommFunction is refused as
// some USB serial drivers refuse it, and SetCommState can be made to fail.
class RefusingEscape final : public SystemCommCalls {
public:
    BOOL EscapeCommFunction(HANDLE, DWORD) noexcept override
    {
        ++escapes;
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    BOOL SetCommState(HANDLE port, DCB& dcb) noexcept override
    {
        if (settings_fail) {
            ::SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        return SystemCommCalls::SetCommState(port, dcb);
    }

    int escapes = 0;
    bool settings_fail = false;
};

struct RefusedEscapeTest : LineControlTest {
    std::shared_ptr<RefusingEscape> calls = std::make_shared<RefusingEscape>();
    ComPtr<IDispatch> refusing = CreateWith(calls);

    static ComPtr<IDispatch> CreateWith(std::shared_ptr<CommCalls> with)
    {
        ComPtr<IDispatch> control;
        EXPECT_EQ(CreateLineControl(std::move(with), IID_PPV_ARGS(&control)), S_OK);
        return control;
    }
};

TEST_F(RefusedEscapeTest, TheWiresAreDrivenThroughThePortSettings)
{
    Open(refusing.Get(), 1);
    Open(com2.Get(), 2);
    EXPECT_TRUE(Reads(com2.Get(), kDispWireAInput));
    EXPECT_TRUE(Reads(com2.Get(), kDispWireBInput));

    ASSERT_EQ(Put(refusing.Get(), kDispWireAOutput, I4(0))->hr, S_OK);
    EXPECT_FALSE(Reads(com2.Get(), kDispWireAInput));
    EXPECT_TRUE(Reads(com2.Get(), kDispWireBInput));
    ASSERT_EQ(Put(refusing.Get(), kDispWireBOutput, Bool(false))->hr, S_OK);
    EXPECT_FALSE(Reads(com2.Get(), kDispWireBInput));
    EXPECT_FALSE(Reads(com2.Get(), kDispWireAInput));  // pulling B kept A pulled
    ASSERT_EQ(Put(refusing.Get(), kDispWireAOutput, I4(2))->hr, S_OK);
    EXPECT_TRUE(Reads(com2.Get(), kDispWireAInput));
    EXPECT_FALSE(Reads(com2.Get(), kDispWireBInput));

    // Closing still leaves the cable idle.
    ASSERT_EQ(Put(refusing.Get(), kDispPortOpen, Bool(false))->hr, S_OK);
    EXPECT_TRUE(Reads(com2.Get(), kDispWireAInput));
    EXPECT_TRUE(Reads(com2.Get(), kDispWireBInput));
    // Once refused, not asked again on every bit.
    EXPECT_EQ(calls->escapes, 1);
}

TEST_F(RefusedEscapeTest, TheLinkRunsOverTheSettings)
{
    Open(refusing.Get(), 1);
    Open(com2.Get(), 2);
    auto received = std::async(std::launch::async, [this] {
        DispatchLines lines(com2);
        const auto yield = BoundedYield();
        link::Xfer xfer(lines, yield);
        std::string bytes;
        for (int i = 0; i < 2; ++i) {
            while (lines.WireBInput() && lines.WireAInput()) yield();
            bytes += static_cast<char>(xfer.ReceiveByte());
        }
        return bytes;
    });
    DispatchLines lines(refusing);
    link::Xfer xfer(lines, BoundedYield());
    xfer.SendByte(0xA5);
    xfer.SendByte(0x3C);
    EXPECT_EQ(received.get(), "\xa5\x3c");
}

TEST_F(RefusedEscapeTest, SettingsThatFailTooAreReportedNotIgnored)
{
    Open(refusing.Get(), 1);
    Open(com2.Get(), 2);
    calls->settings_fail = true;
    EXPECT_TRUE(Raised(*Put(refusing.Get(), kDispWireAOutput, I4(0)), HRESULT_FROM_WIN32(ERROR_GEN_FAILURE),
                       L"Cannot set the lines of COM1"));
    EXPECT_TRUE(Reads(com2.Get(), kDispWireAInput));
    calls->settings_fail = false;
    ASSERT_EQ(Put(refusing.Get(), kDispWireAOutput, I4(0))->hr, S_OK);  // and the next call works
    EXPECT_FALSE(Reads(com2.Get(), kDispWireAInput));

    // A port whose lines cannot be driven at all does not open.
    ASSERT_EQ(Put(refusing.Get(), kDispPortOpen, Bool(false))->hr, S_OK);
    calls->settings_fail = true;
    ASSERT_EQ(Put(refusing.Get(), kDispPortNumber, I2(1))->hr, S_OK);
    EXPECT_TRUE(Raised(*Put(refusing.Get(), kDispPortOpen, Bool(true)), HRESULT_FROM_WIN32(ERROR_GEN_FAILURE),
                       L"COM1 could not be configured"));
    EXPECT_FALSE(Reads(refusing.Get(), kDispPortOpen));
}

}  // namespace
}  // namespace nightjar::serial
