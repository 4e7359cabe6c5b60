// The late-bound calls: what reaches the callee, the Boolean rule, and how
// failures and Automation exceptions come back.
#include <gtest/gtest.h>

#include <string>

#include "nj/com_object.h"
#include "nj/dispatch.h"

namespace nj::dispatch {
namespace {

using Microsoft::WRL::ComPtr;

// Answers every call with `value` (copied out on a get) or with the failure
// it is told to give; remembers the last call it saw.
class Callee final : public com::UntypedDispatch<IDispatch> {
public:
    HRESULT answer = S_OK;
    EXCEPINFO raise{};  // filled in when answer is DISP_E_EXCEPTION
    bool deferred = false;
    unique_variant value;

    DISPID last_id = DISPID_UNKNOWN;
    WORD last_flags = 0;
    UINT last_args = 0, last_named = 0;
    DISPID last_named_id = DISPID_UNKNOWN;
    unique_variant last_arg;

    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    IFACEMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT*) override
    {
        last_id = id;
        last_flags = flags;
        last_args = params->cArgs;
        last_named = params->cNamedArgs;
        last_named_id = params->cNamedArgs ? params->rgdispidNamedArgs[0] : DISPID_UNKNOWN;
        if (params->cArgs) ::VariantCopy(last_arg.reset(), &params->rgvarg[0]);
        if (answer == DISP_E_EXCEPTION && exception) {
            *exception = raise;
            exception->bstrDescription = ::SysAllocString(L"the line is down");
            if (deferred) exception->pfnDeferredFillIn = &FillIn;
        }
        if (SUCCEEDED(answer) && result) ::VariantCopy(result, &value);
        return answer;
    }

private:
    static HRESULT STDMETHODCALLTYPE FillIn(EXCEPINFO* exception)
    {
        exception->scode = static_cast<HRESULT>(0x800A1F4C);
        return S_OK;
    }
};

struct DispatchTest : ::testing::Test {
    ComPtr<Callee> callee = com::Make<Callee>();
    IDispatch* object() { return callee.Get(); }
};

TEST_F(DispatchTest, PutCarriesTheNamedPropertyPutArgument)
{
    ASSERT_EQ(Put(object(), 10, I4(2)), S_OK);
    EXPECT_EQ(callee->last_id, 10);
    EXPECT_EQ(callee->last_flags, DISPATCH_PROPERTYPUT);
    EXPECT_EQ(callee->last_args, 1U);
    EXPECT_EQ(callee->last_named, 1U);
    EXPECT_EQ(callee->last_named_id, DISPID_PROPERTYPUT);
    EXPECT_EQ(callee->last_arg.vt, VT_I4);
    EXPECT_EQ(callee->last_arg.lVal, 2);

    ASSERT_EQ(Put(object(), 4, I2(3)), S_OK);
    EXPECT_EQ(callee->last_arg.vt, VT_I2);
    ASSERT_EQ(Put(object(), 9, Bool(true)), S_OK);
    EXPECT_EQ(callee->last_arg.boolVal, VARIANT_TRUE);  // we put True as -1

    ASSERT_EQ(Call(object(), 0x6003000E), S_OK);
    EXPECT_EQ(callee->last_flags, DISPATCH_METHOD);
    EXPECT_EQ(callee->last_args, 0U);
}

TEST_F(DispatchTest, BooleansAreFalseOnlyAtZero)
{
    struct Case {
        VARTYPE vt;
        LONG raw;
        bool expected;
    } cases[] = {
        {VT_BOOL, VARIANT_TRUE, true}, {VT_BOOL, VARIANT_FALSE, false}, {VT_BOOL, 1, true},
        {VT_I4, 2, true},              {VT_I2, -1, true},               {VT_I4, 0, false},
    };
    for (const Case& c : cases) {
        callee->value.reset()->vt = c.vt;
        if (c.vt == VT_BOOL) callee->value.boolVal = static_cast<VARIANT_BOOL>(c.raw);
        if (c.vt == VT_I2) callee->value.iVal = static_cast<SHORT>(c.raw);
        if (c.vt == VT_I4) callee->value.lVal = c.raw;
        bool value = !c.expected;
        ASSERT_EQ(GetBool(object(), 5, &value), S_OK) << c.vt << " " << c.raw;
        EXPECT_EQ(value, c.expected) << c.vt << " " << c.raw;
    }
    EXPECT_EQ(callee->last_flags, DISPATCH_PROPERTYGET);
    EXPECT_EQ(callee->last_args, 0U);

    callee->value.reset()->vt = VT_BSTR;
    callee->value.bstrVal = ::SysAllocString(L"False");
    bool value = true;
    EXPECT_EQ(GetBool(object(), 5, &value), S_OK);
    EXPECT_FALSE(value);
    ::SysFreeString(callee->value.bstrVal);
    callee->value.bstrVal = ::SysAllocString(L"now and then");
    value = true;
    EXPECT_EQ(GetBool(object(), 5, &value), DISP_E_TYPEMISMATCH);
    EXPECT_FALSE(value);
}

TEST_F(DispatchTest, FailuresComeBackAsTheyCameAndExceptionsAsTheirOwnCode)
{
    callee->answer = DISP_E_MEMBERNOTFOUND;
    unique_bstr description(::SysAllocString(L"stale"));
    EXPECT_EQ(Call(object(), 77, &description), DISP_E_MEMBERNOTFOUND);
    EXPECT_FALSE(description);

    callee->answer = DISP_E_EXCEPTION;
    callee->raise.scode = static_cast<HRESULT>(0x800A1F45);
    EXPECT_EQ(Put(object(), 20, Bool(true), &description), static_cast<HRESULT>(0x800A1F45));
    ASSERT_TRUE(description);
    EXPECT_EQ(std::wstring(description.get()), L"the line is down");

    callee->raise = {};
    callee->raise.wCode = 8005;
    VARIANT out;
    EXPECT_EQ(Get(object(), 20, &out), MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 8005));

    callee->raise = {};
    callee->deferred = true;
    bool value = true;
    EXPECT_EQ(GetBool(object(), 5, &value), static_cast<HRESULT>(0x800A1F4C));
    EXPECT_FALSE(value);

    // An exception that names no failure is still one.
    callee->raise = {};
    callee->deferred = false;
    callee->raise.scode = S_FALSE;
    EXPECT_EQ(Call(object(), 1), DISP_E_EXCEPTION);

    EXPECT_EQ(Call(nullptr, 1), E_POINTER);
    EXPECT_EQ(GetBool(object(), 5, nullptr), E_POINTER);
}

TEST_F(DispatchTest, TheThrowingFormsCarryTheCodeAndTheCalleesWords)
{
    callee->value.reset()->vt = VT_I4;
    callee->value.lVal = 0;
    EXPECT_FALSE(GetBoolOrThrow(object(), 5));
    EXPECT_NO_THROW(PutOrThrow(object(), 10, I4(2)));
    EXPECT_NO_THROW(CallOrThrow(object(), 3));

    callee->answer = DISP_E_EXCEPTION;
    callee->raise.scode = static_cast<HRESULT>(0x800A1F4C);
    try {
        PutOrThrow(object(), 9, Bool(false));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.hr(), static_cast<HRESULT>(0x800A1F4C));
        EXPECT_STREQ(e.what(), "the line is down (0x800A1F4C)");
    }
    // Without words of its own, the member and what went wrong.
    callee->answer = S_OK;
    callee->value.reset()->vt = VT_BSTR;
    callee->value.bstrVal = ::SysAllocString(L"now and then");
    try {
        GetBoolOrThrow(object(), 5);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.hr(), DISP_E_TYPEMISMATCH);
        EXPECT_STREQ(e.what(), "DISPID 5 gave no Boolean (0x80020005)");
    }
    EXPECT_THROW(CallOrThrow(nullptr, 1), Error);
}

}  // namespace
}  // namespace nj::dispatch
