// The control linked into this program, driven as a container would: by
// DISPID through IDispatch, its tick run directly or by its timer.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "class_objects.h"
#include "fakes.h"
#include "mdl_plavox.h"
#include "nj/text.h"
#include "plavox_control.h"

namespace plavox::test {
namespace {

using Microsoft::WRL::ComPtr;

HRESULT Call(IDispatch* object, DISPID dispid, VARIANT* args = nullptr, UINT count = 0)
{
    DISPPARAMS params = {args, nullptr, count, 0};
    return object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                          nullptr);
}

HRESULT PutEnabled(IDispatch* object, VARIANT value)
{
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &named, 1, 1};
    return object->Invoke(DISPID_Enabled, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                          nullptr, nullptr);
}

VARIANT_BOOL GetEnabled(IDispatch* object)
{
    DISPPARAMS none = {};
    nj::unique_variant result;
    EXPECT_EQ(S_OK, object->Invoke(DISPID_Enabled, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                   &result, nullptr, nullptr));
    EXPECT_EQ(result.vt, VT_BOOL);
    return result.boolVal;
}

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        baseline_ = nj::com::module_count();
        control_ = NewControl();
        ASSERT_TRUE(control_);
        ASSERT_EQ(S_OK, ModuleState::ForThisThread(state_));
        sink_ = Connect(control_.Get());
    }
    void TearDown() override
    {
        control_.Reset();
        sink_.Reset();
        state_.reset();
        // Every object made by the test and the control is gone again.
        EXPECT_EQ(nj::com::module_count(), baseline_);
    }

    static ComPtr<_Plavox> NewControl()
    {
        ComPtr<_Plavox> control;
        EXPECT_EQ(S_OK, PlavoxControl::Create(IID_PPV_ARGS(&control)));
        return control;
    }
    static ComPtr<EventSink> Connect(_Plavox* control)
    {
        auto sink = nj::com::Make<EventSink>();
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        DWORD cookie = 0;
        EXPECT_EQ(S_OK, control->QueryInterface(IID_PPV_ARGS(&container)));
        EXPECT_EQ(S_OK, container->FindConnectionPoint(DIID___Plavox, &point));
        EXPECT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
        EXPECT_NE(cookie, 0u);
        return sink;
    }
    static PlavoxControl& Impl(_Plavox* control) { return *static_cast<PlavoxControl*>(control); }
    void Tick() { Impl(control_.Get()).Tick(); }

    long baseline_ = 0;
    ComPtr<_Plavox> control_;
    ComPtr<EventSink> sink_;
    std::shared_ptr<ModuleState> state_;
};

// ---- Commands ------------------------------------------------------------

struct CommandCase {
    DISPID dispid;
    PlayerMessage sent;
};

constexpr CommandCase kCommands[] = {
    {DISPID_PlayTrack, {WM_COMMAND, 40045, 0}},   {DISPID_PauseTrack, {WM_COMMAND, 40046, 0}},
    {DISPID_StopTrack, {WM_COMMAND, 40047, 0}},   {DISPID_NextTrack, {WM_COMMAND, 40048, 0}},
    {DISPID_PrevTrack, {WM_COMMAND, 40044, 0}},   {DISPID_SkipFwd, {WM_COMMAND, 40148, 0}},
    {DISPID_SkipBack, {WM_COMMAND, 40144, 0}},    {DISPID_FadeAndStop, {WM_COMMAND, 40147, 0}},
    {DISPID_Shuffle, {WM_COMMAND, 40023, 0}},     {DISPID_ClearPlaylist, {WM_USER, 0, 101}},
    {DISPID_KillPlavox, {WM_CLOSE, 0, 0}},
};

TEST_F(ControlTest, EachCommandSendsItsOneMessage)
{
    for (const CommandCase& command : kCommands) {
        FakePlayer player(L"any title at all");
        HWND found = player.Handle();
        EXPECT_EQ(S_OK, Call(control_.Get(), command.dispid)) << std::hex << command.dispid;
        EXPECT_EQ(player.messages, std::vector<PlayerMessage>{command.sent}) << std::hex << command.dispid;
        EXPECT_EQ(player.queries, 0);
        EXPECT_EQ(state_->PlayerWindow, found);
    }
}

TEST_F(ControlTest, CommandsWithoutPlayerSucceedAndClearPlayerWindow)
{
    for (const CommandCase& command : kCommands) {
        state_->PlayerWindow = reinterpret_cast<HWND>(0x1234);
        EXPECT_EQ(S_OK, Call(control_.Get(), command.dispid)) << std::hex << command.dispid;
        EXPECT_EQ(state_->PlayerWindow, nullptr);
    }
}

TEST_F(ControlTest, OnlyTheFoundPlayerOfTwoGetsTheCommand)
{
    FakePlayer first, second;
    EXPECT_EQ(S_OK, control_->PlayTrack());
    FakePlayer& found = ::FindWindowA(plavox::player::kWindowClass, nullptr) == first.Handle() ? first : second;
    FakePlayer& other = &found == &first ? second : first;
    EXPECT_EQ(found.messages.size(), 1u);
    EXPECT_TRUE(other.messages.empty());
}

TEST_F(ControlTest, AfterKillPlavoxTheNextCommandFindsNoPlayer)
{
    FakePlayer player;
    EXPECT_EQ(S_OK, control_->KillPlavox());
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(S_OK, control_->PlayTrack());
    EXPECT_EQ(state_->PlayerWindow, nullptr);
}

struct ShellCall {
    HWND owner;
    std::string verb, file, parameters, directory;
    INT show;
};
std::vector<ShellCall> g_shellCalls;

HINSTANCE WINAPI RecordShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                    INT show)
{
    EXPECT_NE(parameters, nullptr);
    EXPECT_NE(directory, nullptr);
    g_shellCalls.push_back({owner, verb, file, parameters ? parameters : "(null)", directory ? directory : "(null)",
                            show});
    return reinterpret_cast<HINSTANCE>(2);  // "file not found": ignored
}

class ShellVerbTest : public ControlTest {
protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        g_shellCalls.clear();
        state_->shellExecute = RecordShellExecute;
    }
};

TEST_F(ShellVerbTest, LaunchFileAndAddfileHandTheFileToTheShell)
{
    FakePlayer player;
    state_->PlayerWindow = reinterpret_cast<HWND>(0x5678);
    const std::wstring name = L"C:\\Music\\Bj\u00f6rk \u65e5\u672c.mp3";
    nj::unique_bstr file;
    VARIANT arg;
    arg.vt = VT_BSTR | VT_BYREF;
    arg.pbstrVal = file.put();
    *arg.pbstrVal = ::SysAllocString(name.c_str());

    EXPECT_EQ(S_OK, Call(control_.Get(), DISPID_LaunchFile, &arg, 1));
    EXPECT_EQ(S_OK, Call(control_.Get(), DISPID_Addfile, &arg, 1));

    const std::string ansi = nj::text::ToAnsi(name);
    ASSERT_EQ(g_shellCalls.size(), 2u);
    EXPECT_EQ(g_shellCalls[0].verb, "play");
    EXPECT_EQ(g_shellCalls[1].verb, "enqueue");
    for (const ShellCall& call : g_shellCalls) {
        EXPECT_EQ(call.owner, Impl(control_.Get()).Window());
        EXPECT_NE(call.owner, nullptr);
        EXPECT_EQ(call.file, ansi);
        EXPECT_EQ(call.parameters, "");
        EXPECT_EQ(call.directory, "");
        EXPECT_EQ(call.show, SW_HIDE);
    }
    // The caller's variable holds the text as the code page carried it.
    EXPECT_EQ(Text(file.get()), nj::text::FromAnsi(ansi));
    EXPECT_EQ(state_->PlayerWindow, reinterpret_cast<HWND>(0x5678));
    EXPECT_TRUE(player.messages.empty());
}

TEST_F(ShellVerbTest, EmptyAndMissingNames)
{
    BSTR empty = nullptr;
    EXPECT_EQ(S_OK, control_->LaunchFile(&empty));
    ASSERT_EQ(g_shellCalls.size(), 1u);
    EXPECT_EQ(g_shellCalls[0].verb, "play");
    EXPECT_EQ(g_shellCalls[0].file, "");
    EXPECT_EQ(Text(empty), L"");
    ::SysFreeString(empty);

    EXPECT_EQ(E_POINTER, control_->Addfile(nullptr));
    EXPECT_EQ(g_shellCalls.size(), 1u);
}

// ---- Polling and events --------------------------------------------------

TEST_F(ControlTest, NewTitleIsParsedCompletedAndRaisedOnce)
{
    FakePlayer player(L"3. Some Artist - Some Song - Plavox");
    player.frequency = 44100;
    player.bitRate = 128;
    player.length = 215;

    Tick();
    ASSERT_EQ(sink_->details.size(), 1u);
    const SeenDetail& seen = sink_->details[0];
    EXPECT_EQ(seen.TrackNumber, L"3");
    EXPECT_EQ(seen.Artist, L"Some Artist");
    EXPECT_EQ(seen.Title, L"Some Song");
    EXPECT_EQ(seen.Freq, L"44100");
    EXPECT_EQ(seen.Rate, L"128");
    EXPECT_EQ(seen.Length, 215);
    EXPECT_EQ(seen.Status, Stopped);
    EXPECT_EQ(seen.CurrentPos, L"");
    EXPECT_EQ(sink_->types, std::vector<VARTYPE>{VT_RECORD | VT_BYREF});
    EXPECT_TRUE(sink_->positions.empty());
    EXPECT_EQ(player.queries, 5);  // three for the record, two play states

    Tick();
    EXPECT_EQ(sink_->details.size(), 1u);
    EXPECT_EQ(state_->LastTitle, L"3. Some Artist - Some Song - Plavox");
}

TEST_F(ControlTest, TitleWithoutTrackNumberKeepsTheLastOne)
{
    FakePlayer player(L"3. A - B - Plavox");
    Tick();
    player.SetTitle(L"Some Artist - Some Song - Plavox");
    Tick();
    ASSERT_EQ(sink_->details.size(), 2u);
    EXPECT_EQ(sink_->details[1].TrackNumber, L"3");
    EXPECT_EQ(sink_->details[1].Artist, L"Some Artist");
    EXPECT_EQ(sink_->details[1].Title, L"Some Song");
}

TEST_F(ControlTest, FileNamesAndTitlesWithoutDashRaiseNothing)
{
    FakePlayer player(L"7. track07.MP3 - Plavox");
    Tick();
    Tick();
    EXPECT_TRUE(sink_->details.empty());
    EXPECT_EQ(Text(state_->CurrentDetail.TrackNumber), L"7");
    EXPECT_EQ(state_->LastTitle, L"7. track07.MP3 - Plavox");
    EXPECT_EQ(player.queries, 4);  // play states only

    player.SetTitle(L"Plavox v1.x");
    Tick();
    EXPECT_TRUE(sink_->details.empty());
    EXPECT_EQ(state_->LastTitle, L"7. track07.MP3 - Plavox");
}

TEST_F(ControlTest, MissingPlayerRaisesTheEmptiedRecordAtEveryTick)
{
    {
        FakePlayer player(L"1. A - B - Plavox");
        player.frequency = 1;
        Tick();
        EXPECT_EQ(sink_->details.back().Status, Stopped);
    }
    sink_->Clear();
    Tick();
    Tick();
    EXPECT_EQ(sink_->order, (std::vector<DISPID>{1, 2, 1, 2}));
    for (const SeenDetail& seen : sink_->details) {
        EXPECT_EQ(seen.Title, L"");
        EXPECT_EQ(seen.Artist, L"");
        EXPECT_EQ(seen.TrackNumber, L"");
        EXPECT_EQ(seen.Freq, L"");
        EXPECT_EQ(seen.Rate, L"");
        EXPECT_EQ(seen.Length, 0);
        EXPECT_EQ(seen.CurrentPos, L"0");
        EXPECT_EQ(seen.Status, Error);
    }
    EXPECT_EQ(sink_->positions, (std::vector<LONG>{0, 0}));

    // The same title after the player comes back raises nothing; a new one
    // carries the status the absence left.
    FakePlayer back(L"1. A - B - Plavox");
    sink_->Clear();
    Tick();
    EXPECT_TRUE(sink_->details.empty());
    back.SetTitle(L"2. C - D - Plavox");
    Tick();
    ASSERT_EQ(sink_->details.size(), 1u);
    EXPECT_EQ(sink_->details[0].Status, Error);
    EXPECT_EQ(sink_->details[0].CurrentPos, L"0");
}

TEST_F(ControlTest, PositionIsRaisedInRoundedSecondsWhilePlayingOrPaused)
{
    FakePlayer player(L"Plavox v1.x");
    const struct {
        LONG state, ms;
        std::vector<LONG> raised;
    } cases[] = {
        {1, 1500, {2}}, {1, 2500, {2}}, {1, 3499, {3}}, {1, 499, {0}}, {3, 61000, {61}},
        {2, 5000, {}},  {0, 5000, {}},  {7, 5000, {}},  {-1, 5000, {}},
    };
    for (const auto& c : cases) {
        sink_->Clear();
        player.playState = c.state;
        player.positionMs = c.ms;
        Tick();
        EXPECT_EQ(sink_->positions, c.raised) << c.state << " " << c.ms;
    }
    EXPECT_EQ(Text(state_->CurrentDetail.CurrentPos), L"61000");

    // Paused: the same value at every tick.
    sink_->Clear();
    player.playState = 3;
    player.positionMs = 61000;
    Tick();
    Tick();
    EXPECT_EQ(sink_->positions, (std::vector<LONG>{61, 61}));
    EXPECT_EQ(sink_->types, (std::vector<VARTYPE>{VT_I4 | VT_BYREF, VT_I4 | VT_BYREF}));
}

TEST_F(ControlTest, RecordChangesByAHandlerStay)
{
    FakePlayer player(L"1. A - B - Plavox");
    sink_->onTrackChanged = [](TrackDetail& detail) {
        ::SysFreeString(detail.CurrentPos);
        detail.CurrentPos = ::SysAllocString(L"from the handler");
    };
    Tick();
    sink_->onTrackChanged = nullptr;
    player.SetTitle(L"2. C - D - Plavox");
    Tick();
    ASSERT_EQ(sink_->details.size(), 2u);
    EXPECT_EQ(sink_->details[1].CurrentPos, L"from the handler");
}

TEST_F(ControlTest, LongAndNonAsciiTitlesAreReadSoundly)
{
    std::wstring longTitle = L"A - " + std::wstring(400, L'x');
    FakePlayer player(longTitle.c_str());
    Tick();
    ASSERT_EQ(sink_->details.size(), 1u);
    EXPECT_EQ(sink_->details[0].Title, std::wstring(250, L'x'));
    EXPECT_EQ(state_->LastTitle.size(), 254u);

    const std::wstring text = L"1. Bj\u00f6rk - \u65e5\u672c - Plavox";
    player.SetTitle(text.c_str());
    Tick();
    ASSERT_EQ(sink_->details.size(), 2u);
    const std::string ansi = nj::text::ToAnsi(text);
    EXPECT_EQ(state_->LastTitle, nj::text::FromAnsi(ansi));
    EXPECT_EQ(sink_->details[1].Artist.size(), 5u);

    player.SetTitle(L"");
    Tick();
    EXPECT_EQ(sink_->details.size(), 2u);
}

TEST_F(ControlTest, TwoInstancesShareTheModuleState)
{
    ComPtr<_Plavox> other = NewControl();
    ComPtr<EventSink> otherSink = Connect(other.Get());
    FakePlayer player(L"1. A - B - Plavox");
    player.playState = 1;

    Tick();
    Impl(other.Get()).Tick();
    EXPECT_EQ(sink_->details.size(), 1u);
    EXPECT_TRUE(otherSink->details.empty());
    EXPECT_EQ(sink_->positions.size(), 1u);
    EXPECT_EQ(otherSink->positions.size(), 1u);

    player.Close();
    Impl(other.Get()).Tick();
    EXPECT_EQ(otherSink->details.size(), 1u);
    EXPECT_EQ(otherSink->details[0].Status, Error);
    EXPECT_EQ(sink_->details.size(), 1u);
}

TEST_F(ControlTest, DisconnectedAndFrozenSinksHearNothing)
{
    ComPtr<IOleControl> ole;
    ASSERT_EQ(S_OK, control_.As(&ole));
    EXPECT_EQ(S_OK, ole->FreezeEvents(TRUE));
    Tick();
    EXPECT_TRUE(sink_->order.empty());
    EXPECT_EQ(S_OK, ole->FreezeEvents(FALSE));
    Tick();
    EXPECT_EQ(sink_->order.size(), 2u);

    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, control_.As(&container));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID___Plavox, &point));
    EXPECT_EQ(S_OK, point->Unadvise(1));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(1));
    sink_->Clear();
    Tick();
    EXPECT_TRUE(sink_->order.empty());
}

// ---- Enabled, loading and the timer --------------------------------------

TEST_F(ControlTest, EnabledFollowsTheTimer)
{
    EXPECT_EQ(GetEnabled(control_.Get()), VARIANT_FALSE);
    EXPECT_EQ(S_OK, control_->put_Enabled(5));
    EXPECT_EQ(GetEnabled(control_.Get()), VARIANT_TRUE);
    VARIANT off;
    off.vt = VT_I4;
    off.lVal = 0;
    EXPECT_EQ(S_OK, PutEnabled(control_.Get(), off));
    EXPECT_EQ(GetEnabled(control_.Get()), VARIANT_FALSE);
    VARIANT on;
    on.vt = VT_BOOL;
    on.boolVal = VARIANT_TRUE;
    EXPECT_EQ(S_OK, PutEnabled(control_.Get(), on));
    EXPECT_EQ(GetEnabled(control_.Get()), VARIANT_TRUE);
}

enum class LoadKind { Stream, PropertyBag, InitNew };

void LoadControl(_Plavox* control, IOleClientSite* site, LoadKind kind)
{
    ComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, control->QueryInterface(IID_PPV_ARGS(&ole)));
    ASSERT_EQ(S_OK, ole->SetClientSite(site));
    if (kind == LoadKind::PropertyBag) {
        ComPtr<IPersistPropertyBag> persist;
        ASSERT_EQ(S_OK, control->QueryInterface(IID_PPV_ARGS(&persist)));
        auto bag = nj::com::Make<EmptyPropertyBag>();
        EXPECT_EQ(S_OK, persist->Load(bag.Get(), nullptr));
    } else {
        ComPtr<IPersistStreamInit> persist;
        ASSERT_EQ(S_OK, control->QueryInterface(IID_PPV_ARGS(&persist)));
        if (kind == LoadKind::InitNew) {
            EXPECT_EQ(S_OK, persist->InitNew());
        } else {
            ComPtr<IStream> stream;
            ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
            EXPECT_EQ(S_OK, persist->Load(stream.Get()));
        }
    }
    ole->SetClientSite(nullptr);
}

TEST_F(ControlTest, LoadingSavedStateEnablesTheTimerOnlyInUserMode)
{
    const struct {
        VARIANT_BOOL value;
        VARTYPE type;
        LoadKind kind;
        VARIANT_BOOL enabled;
    } cases[] = {
        {VARIANT_TRUE, VT_BOOL, LoadKind::Stream, VARIANT_TRUE},
        {VARIANT_FALSE, VT_BOOL, LoadKind::Stream, VARIANT_FALSE},
        {VARIANT_TRUE, VT_BOOL, LoadKind::PropertyBag, VARIANT_TRUE},
        {VARIANT_FALSE, VT_BOOL, LoadKind::PropertyBag, VARIANT_FALSE},
        {VARIANT_TRUE, VT_I4, LoadKind::PropertyBag, VARIANT_TRUE},
        {1, VT_I4, LoadKind::PropertyBag, VARIANT_FALSE},
        {VARIANT_TRUE, VT_EMPTY, LoadKind::Stream, VARIANT_FALSE},
    };
    for (const auto& c : cases) {
        control_->put_Enabled(c.enabled ? VARIANT_FALSE : VARIANT_TRUE);
        auto site = nj::com::Make<ClientSite>(c.value, c.type);
        LoadControl(control_.Get(), site.Get(), c.kind);
        EXPECT_EQ(GetEnabled(control_.Get()), c.enabled) << c.value << " " << c.type;
    }

    // A new instance keeps its disabled timer, whatever the site says.
    ComPtr<_Plavox> fresh = NewControl();
    auto site = nj::com::Make<ClientSite>(VARIANT_TRUE);
    LoadControl(fresh.Get(), site.Get(), LoadKind::InitNew);
    EXPECT_EQ(GetEnabled(fresh.Get()), VARIANT_FALSE);
    // Without a site there is no user mode to read.
    control_->put_Enabled(VARIANT_TRUE);
    LoadControl(control_.Get(), nullptr, LoadKind::Stream);
    EXPECT_EQ(GetEnabled(control_.Get()), VARIANT_FALSE);
}

TEST_F(ControlTest, TheTimerTicksThroughTheMessageLoop)
{
    auto site = nj::com::Make<ClientSite>(VARIANT_TRUE);
    LoadControl(control_.Get(), site.Get(), LoadKind::PropertyBag);
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(PumpUntil([&] { return sink_->positions.size() >= 2; }, 3000));
    EXPECT_GE(::GetTickCount64() - start, 900u);  // two ticks at 500 ms

    EXPECT_EQ(S_OK, control_->put_Enabled(VARIANT_FALSE));
    sink_->Clear();
    PumpUntil([] { return false; }, 700);
    EXPECT_TRUE(sink_->order.empty());
}

TEST_F(ControlTest, AControlReleasedInsideItsEventFinishesTheTick)
{
    static ComPtr<_Plavox>* s_control = nullptr;
    s_control = std::addressof(control_);  // ComPtr's & would release it
    sink_->onTrackChanged = [](TrackDetail&) { s_control->Reset(); };
    PlavoxControl& control = Impl(control_.Get());
    control.Tick();
    EXPECT_FALSE(control_);
    EXPECT_EQ(sink_->order, (std::vector<DISPID>{1, 2}));
}

// ---- OLE and dispatch surface --------------------------------------------

TEST_F(ControlTest, ContainerInterfaces)
{
    ComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, control_.As(&ole));
    DWORD status = 0;
    EXPECT_EQ(S_OK, ole->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_EQ(status, 0x24591u);

    SIZEL size = {5000, 300};
    EXPECT_EQ(S_OK, ole->SetExtent(DVASPECT_CONTENT, &size));
    EXPECT_EQ(S_OK, ole->GetExtent(DVASPECT_CONTENT, &size));
    EXPECT_EQ(size.cx, 441);
    EXPECT_EQ(size.cy, 441);

    auto site = nj::com::Make<ClientSite>(VARIANT_TRUE);
    ComPtr<IOleClientSite> back;
    EXPECT_EQ(S_OK, ole->SetClientSite(site.Get()));
    EXPECT_EQ(S_OK, ole->GetClientSite(&back));
    EXPECT_EQ(back.Get(), static_cast<IOleClientSite*>(site.Get()));
    back.Reset();
    EXPECT_EQ(S_OK, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, nullptr, nullptr));
    EXPECT_EQ(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_EQ(S_OK, ole->SetClientSite(nullptr));
    CLSID clsid = {};
    EXPECT_EQ(S_OK, ole->GetUserClassID(&clsid));
    EXPECT_EQ(clsid, CLSID_Plavox);

    ComPtr<IOleControl> control;
    EXPECT_EQ(S_OK, control_.As(&control));
    CONTROLINFO info = {};
    info.cb = sizeof(info);
    EXPECT_EQ(S_OK, control->GetControlInfo(&info));
    EXPECT_EQ(info.cAccel, 0);
    ComPtr<IPersist> persist;
    EXPECT_EQ(S_OK, control_.As(&persist));
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_EQ(clsid, CLSID_Plavox);
}

TEST_F(ControlTest, TypeInformationAndEventInterface)
{
    ComPtr<IProvideClassInfo2> classInfo;
    ASSERT_EQ(S_OK, control_.As(&classInfo));
    GUID source = {};
    EXPECT_EQ(S_OK, classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
    EXPECT_EQ(source, DIID___Plavox);
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, classInfo->GetClassInfo(&coclass));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_EQ(attr->guid, CLSID_Plavox);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    coclass->ReleaseTypeAttr(attr);

    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, control_.As(&container));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, &point));

    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, control_->GetTypeInfo(0, 0, &info));
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(attr->guid, IID__Plavox);
    info->ReleaseTypeAttr(attr);

    const wchar_t* names[] = {L"PlayTrack", L"Addfile", L"Enabled"};
    const DISPID expected[] = {DISPID_PlayTrack, DISPID_Addfile, DISPID_Enabled};
    for (size_t i = 0; i < 3; ++i) {
        auto* name = const_cast<LPOLESTR>(names[i]);
        DISPID id = 0;
        EXPECT_EQ(S_OK, control_->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
        EXPECT_EQ(id, expected[i]);
    }
    DISPPARAMS none = {};
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, control_->Invoke(DISPID_PlayTrack, IID_IDispatch, 0, DISPATCH_METHOD, &none,
                                                        nullptr, nullptr, nullptr));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(control_.Get(), 0x60030099));
}

// Both classes answer IDispatch from their own type information, and only
// for calls that name no interface.
TEST_F(ControlTest, BothClassesDispatchThroughTheirTypes)
{
    ComPtr<IDispatch> plain;
    ASSERT_EQ(S_OK, ClsPlavox::Create(IID_PPV_ARGS(&plain)));
    const struct {
        IDispatch* object;
        GUID type;
    } objects[] = {{control_.Get(), IID__Plavox}, {plain.Get(), IID__clsPlavox}};
    for (const auto& o : objects) {
        ComPtr<IDispatch> again;
        EXPECT_EQ(S_OK, o.object->QueryInterface(IID_PPV_ARGS(&again)));
        EXPECT_EQ(again.Get(), o.object);
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(DISP_E_BADINDEX, o.object->GetTypeInfo(1, 0, &info));
        EXPECT_FALSE(info);
        EXPECT_EQ(E_POINTER, o.object->GetTypeInfo(0, 0, nullptr));
        ASSERT_EQ(S_OK, o.object->GetTypeInfo(0, 0, &info));
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
        EXPECT_EQ(attr->guid, o.type);
        info->ReleaseTypeAttr(attr);

        auto* name = const_cast<LPOLESTR>(L"PlayTrack");
        DISPID id = 0;
        EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, o.object->GetIDsOfNames(IID_IDispatch, &name, 1, 0, &id));
        DISPPARAMS none = {};
        EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
                  o.object->Invoke(DISPID_PlayTrack, o.type, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
        EXPECT_EQ(E_INVALIDARG,
                  o.object->Invoke(DISPID_PlayTrack, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr,
                                   nullptr));
    }
    auto* name = const_cast<LPOLESTR>(L"PlayTrack");
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, plain->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));

    ComPtr<IProvideClassInfo> classInfo;
    ASSERT_EQ(S_OK, plain.As(&classInfo));
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, classInfo->GetClassInfo(&coclass));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_EQ(attr->guid, CLSID_clsPlavox);
    coclass->ReleaseTypeAttr(attr);
}

TEST_F(ControlTest, ContainerEdgeCases)
{
    // The base interfaces reached through their derived ones are the same object.
    ComPtr<IProvideClassInfo> classInfo;
    ComPtr<IProvideClassInfo2> classInfo2;
    ComPtr<IPersist> persist;
    ComPtr<IPersistStreamInit> streamInit;
    ASSERT_EQ(S_OK, control_.As(&classInfo));
    ASSERT_EQ(S_OK, control_.As(&classInfo2));
    ASSERT_EQ(S_OK, control_.As(&persist));
    ASSERT_EQ(S_OK, control_.As(&streamInit));
    EXPECT_EQ(static_cast<IUnknown*>(classInfo.Get()), static_cast<IUnknown*>(classInfo2.Get()));
    EXPECT_EQ(static_cast<IUnknown*>(persist.Get()), static_cast<IUnknown*>(streamInit.Get()));
    GUID guid = IID_IDispatch;
    EXPECT_EQ(E_INVALIDARG, classInfo2->GetGUID(0, &guid));
    EXPECT_EQ(guid, GUID_NULL);

    ComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, control_.As(&ole));
    EXPECT_EQ(OLEOBJ_S_INVALIDVERB, ole->DoVerb(1, nullptr, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, ole->DoVerb(OLEIVERB_DISCARDUNDOSTATE - 1, nullptr, nullptr, 0, nullptr, nullptr));
    SIZEL size = {};
    EXPECT_EQ(DV_E_DVASPECT, ole->GetExtent(DVASPECT_ICON, &size));
    EXPECT_EQ(OLE_E_NOCONNECTION, ole->Unadvise(1));
    ComPtr<IEnumSTATDATA> advises;
    EXPECT_EQ(S_OK, ole->EnumAdvise(&advises));
    EXPECT_FALSE(advises);
    EXPECT_EQ(E_POINTER, streamInit->Load(nullptr));

    // Unfreezing more often than freezing does not leave the next freeze undone.
    ComPtr<IOleControl> control;
    ASSERT_EQ(S_OK, control_.As(&control));
    EXPECT_EQ(S_OK, control->FreezeEvents(FALSE));
    EXPECT_EQ(S_OK, control->FreezeEvents(FALSE));
    EXPECT_EQ(S_OK, control->FreezeEvents(TRUE));
    Tick();
    EXPECT_TRUE(sink_->order.empty());
    EXPECT_EQ(S_OK, control->FreezeEvents(FALSE));
    Tick();
    EXPECT_FALSE(sink_->order.empty());
}

// ---- Class objects and module state --------------------------------------

TEST(ClassObjects, ServeBothClassesAndNoOther)
{
    const long baseline = nj::com::module_count();
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, GetClassObject(IID__Plavox, IID_PPV_ARGS(&factory)));
        EXPECT_FALSE(factory);
        for (const CLSID* clsid : {&CLSID_Plavox, &CLSID_clsPlavox}) {
            ASSERT_EQ(S_OK, GetClassObject(*clsid, IID_PPV_ARGS(&factory)));
            ComPtr<IDispatch> object;
            EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)));
            UINT count = 5;
            EXPECT_EQ(S_OK, object->GetTypeInfoCount(&count));
            EXPECT_EQ(count, 1u);
            ComPtr<IUnknown> inner;
            EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(object.Get(), IID_PPV_ARGS(&inner)));
        }
        EXPECT_EQ(S_OK, factory->LockServer(TRUE));
        EXPECT_NE(nj::com::module_count(), baseline);
        EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    }
    EXPECT_EQ(nj::com::module_count(), baseline);
}

TEST(ModuleStateTest, OneBlockPerThreadWhileObjectsLive)
{
    std::shared_ptr<ModuleState> here, again, there;
    ASSERT_EQ(S_OK, ModuleState::ForThisThread(here));
    ASSERT_EQ(S_OK, ModuleState::ForThisThread(again));
    EXPECT_EQ(here, again);
    here->LastTitle = L"kept";
    std::thread([&] {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EXPECT_EQ(S_OK, ModuleState::ForThisThread(there));
        EXPECT_EQ(there->LastTitle, L"");
        there.reset();
        ::CoUninitialize();
    }).join();
    EXPECT_EQ(here->LastTitle, L"kept");
}

class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { ::CoUninitialize(); }
};
const auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

}  // namespace
}  // namespace plavox::test
