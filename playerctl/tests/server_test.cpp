// Plavox.ocx as hosts meet it: registered by regsvr32 or through its
// exports, created from the registration by CLSID or ProgID, sited, loaded,
// connected to and driven by DISPID against a player window.
#include <gtest/gtest.h>

#include <string>

#include "fakes.h"
#include "plavox/plavox.h"

namespace plavox::test {
namespace {

using Microsoft::WRL::ComPtr;

std::wstring g_ocxPath;
std::wstring g_simulatorPath;  // plavoxsim.exe, when given

using HresultFn = HRESULT(STDAPICALLTYPE*)();
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

bool KeyExists(const std::wstring& key)
{
    nj::unique_hkey opened;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

std::wstring ReadValue(const std::wstring& key, const wchar_t* name = nullptr)
{
    wchar_t data[1024] = {};
    DWORD size = sizeof(data);
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) {
        return L"(missing)";
    }
    return data;
}

nj::unique_handle Start(std::wstring command)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return {};
    }
    ::CloseHandle(process.hThread);
    return nj::unique_handle(process.hProcess);
}

DWORD RunRegsvr32(const std::wstring& options)
{
    nj::unique_handle process = Start(L"regsvr32.exe " + options + L" \"" + g_ocxPath + L"\"");
    if (!process) return static_cast<DWORD>(-1);
    ::WaitForSingleObject(process.get(), 60000);
    DWORD code = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_.reset(::LoadLibraryW(g_ocxPath.c_str()));
        ASSERT_TRUE(module_) << ::GetLastError();
        registerServer_ = reinterpret_cast<HresultFn>(::GetProcAddress(module_.get(), "DllRegisterServer"));
        unregisterServer_ = reinterpret_cast<HresultFn>(::GetProcAddress(module_.get(), "DllUnregisterServer"));
        canUnloadNow_ = reinterpret_cast<HresultFn>(::GetProcAddress(module_.get(), "DllCanUnloadNow"));
        getClassObject_ = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(::GetProcAddress(module_.get(), "DllGetClassObject")));
        ASSERT_TRUE(registerServer_ && unregisterServer_ && canUnloadNow_ && getClassObject_);
    }
    void TearDown() override { EXPECT_EQ(S_OK, unregisterServer_()); }

    void ExpectRegistered()
    {
        const std::wstring control = L"CLSID\\" + GuidText(CLSID_Plavox);
        const std::wstring libid = GuidText(LIBID_Quillon);
        EXPECT_EQ(ReadValue(control + L"\\InprocServer32"), g_ocxPath);
        EXPECT_EQ(ReadValue(control + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
        EXPECT_TRUE(KeyExists(control + L"\\Control"));
        EXPECT_EQ(ReadValue(control + L"\\MiscStatus"), L"148881");
        EXPECT_EQ(ReadValue(control + L"\\MiscStatus\\1"), L"148881");
        EXPECT_EQ(ReadValue(control + L"\\ToolboxBitmap32"), g_ocxPath + L", 30000");
        EXPECT_EQ(ReadValue(control + L"\\TypeLib"), libid);
        EXPECT_EQ(ReadValue(control + L"\\Version"), L"10.0");
        EXPECT_EQ(ReadValue(L"Quillon.Plavox\\CLSID"), GuidText(CLSID_Plavox));
        const std::wstring cls = L"CLSID\\" + GuidText(CLSID_clsPlavox);
        EXPECT_EQ(ReadValue(cls + L"\\InprocServer32"), g_ocxPath);
        EXPECT_EQ(ReadValue(cls + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
        EXPECT_FALSE(KeyExists(cls + L"\\Control"));
        EXPECT_EQ(ReadValue(L"TypeLib\\" + libid + L"\\a.0\\0\\win32"), g_ocxPath);
        EXPECT_FALSE(KeyExists(L"TypeLib\\" + libid + L"\\a.0\\409"));

        ComPtr<ITypeLib> library;
        ASSERT_EQ(S_OK, ::LoadRegTypeLib(LIBID_Quillon, 10, 0, 0, &library));
        TLIBATTR* attr = nullptr;
        ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
        EXPECT_EQ(attr->guid, LIBID_Quillon);
        library->ReleaseTLibAttr(attr);
    }

    void ExpectUnregistered()
    {
        for (const GUID* guid : {&CLSID_Plavox, &CLSID_clsPlavox}) EXPECT_FALSE(KeyExists(L"CLSID\\" + GuidText(*guid)));
        for (const GUID* guid : {&IID__Plavox, &DIID___Plavox, &IID__clsPlavox})
            EXPECT_FALSE(KeyExists(L"Interface\\" + GuidText(*guid)));
        EXPECT_FALSE(KeyExists(L"Quillon.Plavox"));
        EXPECT_FALSE(KeyExists(L"Quillon.Plavox.1"));
        EXPECT_FALSE(KeyExists(L"TypeLib\\" + GuidText(LIBID_Quillon)));
        ComPtr<ITypeLib> library;
        EXPECT_NE(S_OK, ::LoadRegTypeLib(LIBID_Quillon, 10, 0, 0, &library));
        ComPtr<IDispatch> object;
        EXPECT_EQ(REGDB_E_CLASSNOTREG,
                  ::CoCreateInstance(CLSID_Plavox, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
        CLSID clsid;
        EXPECT_NE(S_OK, ::CLSIDFromProgID(kProgId, &clsid));
    }

    nj::unique_hmodule module_;
    HresultFn registerServer_ = nullptr;
    HresultFn unregisterServer_ = nullptr;
    HresultFn canUnloadNow_ = nullptr;
    GetClassObjectFn getClassObject_ = nullptr;
};

TEST_F(ServerTest, ExportsByNameAndOrdinal)
{
    const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
    for (WORD ordinal = 1; ordinal <= 4; ++ordinal) {
        FARPROC byName = ::GetProcAddress(module_.get(), names[ordinal - 1]);
        EXPECT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(byName, ::GetProcAddress(module_.get(), MAKEINTRESOURCEA(ordinal))) << ordinal;
    }
}

TEST_F(ServerTest, ClassObjectsForBothClassesOnly)
{
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject_(LIBID_Quillon, IID_PPV_ARGS(&factory)));
    EXPECT_EQ(S_OK, getClassObject_(CLSID_clsPlavox, IID_PPV_ARGS(&factory)));
    EXPECT_EQ(S_FALSE, canUnloadNow_());
    ComPtr<IDispatch> object;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)));
    factory.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow_());
    object.Reset();
    EXPECT_EQ(S_OK, canUnloadNow_());
}

// Whatever keeps code of the library reachable holds it loaded: a factory, a
// server lock, an object, a connection point of a released control.
TEST_F(ServerTest, CanUnloadOnlyOnceEveryObjectFactoryAndLockIsGone)
{
    ASSERT_EQ(S_OK, canUnloadNow_());
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject_(CLSID_Plavox, IID_PPV_ARGS(&factory)));
    EXPECT_EQ(S_FALSE, canUnloadNow_());
    ASSERT_EQ(S_OK, factory->LockServer(TRUE));

    ComPtr<_Plavox> control;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&control)));
    factory.Reset();
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, control.As(&container));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID___Plavox, &point));
    auto sink = nj::com::Make<EventSink>();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
    ASSERT_EQ(S_OK, control->put_Enabled(VARIANT_TRUE));
    container.Reset();
    control.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow_());  // the point holds the control

    ComPtr<IDispatch> plain;
    ASSERT_EQ(S_OK, getClassObject_(CLSID_clsPlavox, IID_PPV_ARGS(&factory)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&plain)));
    point.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow_());  // the lock, the factory and clsPlavox
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, canUnloadNow_());
    plain.Reset();
    EXPECT_EQ(S_OK, canUnloadNow_());

    // The control let its sink go, and its timer went with its window.
    sink->AddRef();
    EXPECT_EQ(1u, sink->Release());
    EXPECT_FALSE(PumpUntil([] { return false; }, 600));
    EXPECT_TRUE(sink->order.empty());
    EXPECT_EQ(S_OK, canUnloadNow_());
}

TEST_F(ServerTest, RegisterAndUnregisterThroughTheExports)
{
    ASSERT_EQ(S_OK, registerServer_());
    ASSERT_EQ(S_OK, registerServer_());  // again over itself
    ExpectRegistered();
    EXPECT_EQ(S_OK, unregisterServer_());
    ExpectUnregistered();
    EXPECT_EQ(S_OK, unregisterServer_());
}

// What a host does that knows only the CLSID or the ProgID.
void HostAndDrive(const CLSID& clsid)
{
    FakePlayer player(L"5. Some Artist - Some Song - Plavox");
    player.playState = 1;
    player.positionMs = 2500;

    ComPtr<IDispatch> control;
    ASSERT_EQ(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)));
    ComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, control.As(&ole));
    DWORD status = 0;
    EXPECT_EQ(S_OK, ole->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_EQ(status, kControlMiscStatus);
    auto site = nj::com::Make<ClientSite>(VARIANT_TRUE);
    ASSERT_EQ(S_OK, ole->SetClientSite(site.Get()));
    ComPtr<IPersistPropertyBag> persist;
    ASSERT_EQ(S_OK, control.As(&persist));
    auto bag = nj::com::Make<EmptyPropertyBag>();
    ASSERT_EQ(S_OK, persist->Load(bag.Get(), nullptr));

    ComPtr<IProvideClassInfo2> classInfo;
    ASSERT_EQ(S_OK, control.As(&classInfo));
    IID source = {};
    ASSERT_EQ(S_OK, classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, control.As(&container));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(source, &point));
    auto sink = nj::com::Make<EventSink>();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));

    // The timer was enabled by the load: events arrive through the message loop.
    ASSERT_TRUE(PumpUntil([&] { return !sink->details.empty() && !sink->positions.empty(); }, 5000));
    EXPECT_EQ(sink->details[0].Title, L"Some Song");
    EXPECT_EQ(sink->details[0].Artist, L"Some Artist");
    EXPECT_EQ(sink->details[0].TrackNumber, L"5");
    EXPECT_EQ(sink->positions[0], 2);

    const struct {
        DISPID dispid;
        PlayerMessage sent;
    } commands[] = {
        {DISPID_PlayTrack, {WM_COMMAND, 40045, 0}}, {DISPID_PauseTrack, {WM_COMMAND, 40046, 0}},
        {DISPID_StopTrack, {WM_COMMAND, 40047, 0}}, {DISPID_NextTrack, {WM_COMMAND, 40048, 0}},
        {DISPID_PrevTrack, {WM_COMMAND, 40044, 0}}, {DISPID_SkipFwd, {WM_COMMAND, 40148, 0}},
        {DISPID_SkipBack, {WM_COMMAND, 40144, 0}},  {DISPID_FadeAndStop, {WM_COMMAND, 40147, 0}},
        {DISPID_Shuffle, {WM_COMMAND, 40023, 0}},   {DISPID_ClearPlaylist, {WM_USER, 0, 101}},
        {DISPID_KillPlavox, {WM_CLOSE, 0, 0}},
    };
    for (const auto& command : commands) {
        player.messages.clear();
        DISPPARAMS none = {};
        EXPECT_EQ(S_OK, control->Invoke(command.dispid, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr,
                                        nullptr));
        EXPECT_EQ(player.messages, std::vector<PlayerMessage>{command.sent}) << std::hex << command.dispid;
    }
    EXPECT_FALSE(player.IsOpen());

    // The shell verbs, on a file nothing handles: success whatever the shell says.
    for (DISPID verb : {DISPID_LaunchFile, DISPID_Addfile}) {
        nj::unique_bstr file;
        VARIANT arg;
        arg.vt = VT_BSTR | VT_BYREF;
        arg.pbstrVal = file.put();
        *arg.pbstrVal = ::SysAllocString(L"C:\\no such folder\\track.plavox-test");
        DISPPARAMS params = {&arg, nullptr, 1, 0};
        EXPECT_EQ(S_OK, control->Invoke(verb, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
        EXPECT_EQ(Text(file.get()), L"C:\\no such folder\\track.plavox-test");
    }

    // Enabled by DISPID: off, and the ticks stop.
    DISPID named = DISPID_PROPERTYPUT;
    VARIANT off;
    off.vt = VT_BOOL;
    off.boolVal = VARIANT_FALSE;
    DISPPARAMS put = {&off, &named, 1, 1};
    EXPECT_EQ(S_OK, control->Invoke(DISPID_Enabled, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                                    nullptr));
    DISPPARAMS none = {};
    nj::unique_variant enabled;
    EXPECT_EQ(S_OK, control->Invoke(DISPID_Enabled, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &enabled, nullptr,
                                    nullptr));
    EXPECT_EQ(enabled.vt, VT_BOOL);
    EXPECT_EQ(enabled.boolVal, VARIANT_FALSE);

    EXPECT_EQ(S_OK, point->Unadvise(cookie));
    EXPECT_EQ(S_OK, ole->SetClientSite(nullptr));
}

TEST_F(ServerTest, Regsvr32RegistersForHostsByClsidAndProgId)
{
    ASSERT_EQ(0u, RunRegsvr32(L"/s"));
    ExpectRegistered();

    CLSID clsid = {};
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(kProgId, &clsid));
    EXPECT_EQ(clsid, CLSID_Plavox);
    HostAndDrive(CLSID_Plavox);
    HostAndDrive(clsid);
    EXPECT_EQ(S_OK, canUnloadNow_());

    ASSERT_EQ(0u, RunRegsvr32(L"/u /s"));
    ExpectUnregistered();
    EXPECT_EQ(0u, RunRegsvr32(L"/u /s"));
}

std::string ReadFileText(const std::wstring& path)
{
    nj::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    char buffer[8192];
    DWORD read = 0;
    ::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr);
    return std::string(buffer, read);
}

TEST_F(ServerTest, FollowsAndDrivesThePlayerSimulator)
{
    if (g_simulatorPath.empty()) GTEST_SKIP() << "no simulator given";
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring log = std::wstring(temp) + L"plavox-server-test.log";
    ::DeleteFileW(log.c_str());
    ASSERT_EQ(S_OK, registerServer_());

    nj::unique_handle simulator = Start(L"\"" + g_simulatorPath + L"\" --play --log \"" + log + L"\"");
    ASSERT_TRUE(simulator);
    ASSERT_TRUE(PumpUntil([] { return ::FindWindowA(plavox::player::kWindowClass, nullptr) != nullptr; }, 20000));

    ComPtr<_Plavox> control;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_Plavox, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)));
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, control.As(&container));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID___Plavox, &point));
    auto sink = nj::com::Make<EventSink>();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
    ASSERT_EQ(S_OK, control->put_Enabled(VARIANT_TRUE));

    ASSERT_TRUE(PumpUntil([&] { return !sink->details.empty() && !sink->positions.empty(); }, 5000));
    const SeenDetail first = sink->details[0];
    EXPECT_NE(first.Title, L"");
    EXPECT_NE(first.Artist, L"");
    EXPECT_NE(first.TrackNumber, L"");

    EXPECT_EQ(S_OK, control->NextTrack());
    ASSERT_TRUE(PumpUntil([&] { return sink->details.size() >= 2; }, 5000));
    EXPECT_NE(sink->details[1].Title, first.Title);

    EXPECT_EQ(S_OK, control->KillPlavox());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(simulator.get(), 10000));
    sink->Clear();
    ASSERT_TRUE(PumpUntil([&] { return !sink->details.empty(); }, 3000));
    EXPECT_EQ(sink->details[0].Status, Error);

    const std::string logged = ReadFileText(log);
    EXPECT_NE(logged.find("WM_COMMAND 40048 0"), std::string::npos) << logged;
    EXPECT_NE(logged.find("WM_CLOSE"), std::string::npos) << logged;
    point->Unadvise(cookie);
    ::DeleteFileW(log.c_str());
}

}  // namespace
}  // namespace plavox::test

std::wstring WindowsPath(std::string path)
{
    // The build passes Unix paths; Wine maps the whole file system to Z:.
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return std::wstring(path.begin(), path.end());
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: plavox_server_test Plavox.ocx [plavoxsim.exe]\n");
        return 2;
    }
    plavox::test::g_ocxPath = WindowsPath(argv[1]);
    if (argc > 2) plavox::test::g_simulatorPath = WindowsPath(argv[2]);

    auto com = nj::CoInitializeApartment();
    return RUN_ALL_TESTS();
}
