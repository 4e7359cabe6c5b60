// Plavox.ocx's per-user registration (DllInstall with "user", as
// `regsvr32 /n /i:user` calls it) read back key by key: it must be the
// machine-wide registration moved under HKCU\Software\Classes, and its
// removal must leave nothing there and touch nothing else. Read at the
// registry level because not every COM runtime looks at the user's classes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "nj/unique.h"
#include "plavox/plavox.h"

namespace {

std::wstring g_ocxPath;

using HresultFn = HRESULT(STDAPICALLTYPE*)();
using InstallFn = HRESULT(STDAPICALLTYPE*)(BOOL, PCWSTR);

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

// Every key the registration owns, relative to a classes root.
std::vector<std::wstring> OwnedKeys()
{
    using namespace plavox;
    return {L"CLSID\\" + GuidText(CLSID_Plavox),   L"CLSID\\" + GuidText(CLSID_clsPlavox),
            L"Quillon.Plavox",                      L"Quillon.Plavox.1",
            L"Interface\\" + GuidText(IID__Plavox), L"Interface\\" + GuidText(DIID___Plavox),
            L"Interface\\" + GuidText(IID__clsPlavox), L"TypeLib\\" + GuidText(LIBID_Quillon)};
}

// key path -> value name -> "type:data"; a key with no values still appears.
using Tree = std::map<std::wstring, std::map<std::wstring, std::wstring>>;

void ReadTree(HKEY parent, const std::wstring& path, Tree& tree)
{
    nj::unique_hkey key;
    if (::RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    auto& values = tree[path];
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        BYTE data[2048];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (::RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        std::wstring text = std::to_wstring(type) + L":";
        if (type == REG_SZ) text += reinterpret_cast<const wchar_t*>(data);
        values[name] = text;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (::RegEnumKeyExW(key.get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        ReadTree(parent, path + L"\\" + name, tree);
    }
}

Tree Registration(HKEY root, const wchar_t* classes)
{
    nj::unique_hkey opened;
    Tree tree;
    if (::RegOpenKeyExW(root, classes, 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return tree;
    for (const std::wstring& key : OwnedKeys()) ReadTree(opened.get(), key, tree);
    return tree;
}

Tree UserRegistration() { return Registration(HKEY_CURRENT_USER, L"Software\\Classes"); }
Tree MachineRegistration() { return Registration(HKEY_LOCAL_MACHINE, L"Software\\Classes"); }

std::wstring UserValue(const std::wstring& key, const std::wstring& name = L"")
{
    const Tree tree = UserRegistration();
    const auto found = tree.find(key);
    if (found == tree.end()) return L"(no key)";
    const auto value = found->second.find(name);
    return value == found->second.end() ? L"(no value)" : value->second;
}

class UserRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_.reset(::LoadLibraryW(g_ocxPath.c_str()));
        ASSERT_TRUE(module_) << ::GetLastError();
        install_ = reinterpret_cast<InstallFn>(reinterpret_cast<void*>(::GetProcAddress(module_.get(), "DllInstall")));
        register_ = reinterpret_cast<HresultFn>(::GetProcAddress(module_.get(), "DllRegisterServer"));
        unregister_ = reinterpret_cast<HresultFn>(::GetProcAddress(module_.get(), "DllUnregisterServer"));
        ASSERT_TRUE(install_ && register_ && unregister_);
        ASSERT_EQ(::GetProcAddress(module_.get(), "DllInstall"), ::GetProcAddress(module_.get(), MAKEINTRESOURCEA(5)));
    }
    void TearDown() override
    {
        install_(FALSE, L"user");
        unregister_();
    }

    nj::unique_hmodule module_;
    InstallFn install_ = nullptr;
    HresultFn register_ = nullptr;
    HresultFn unregister_ = nullptr;
};

TEST_F(UserRegistrationTest, WritesTheMachineWideRegistrationUnderTheUsersClasses)
{
    ASSERT_EQ(S_OK, register_());
    const Tree machine = MachineRegistration();
    ASSERT_EQ(S_OK, unregister_());
    ASSERT_TRUE(MachineRegistration().empty());

    ASSERT_EQ(S_OK, install_(TRUE, L"user"));
    EXPECT_EQ(machine, UserRegistration());
    EXPECT_TRUE(MachineRegistration().empty()) << "a per-user registration wrote machine-wide";

    // The values a host looks for, spelled out once.
    const std::wstring control = L"CLSID\\" + GuidText(plavox::CLSID_Plavox);
    const std::wstring library = L"TypeLib\\" + GuidText(plavox::LIBID_Quillon) + L"\\a.0";
    EXPECT_EQ(L"1:" + g_ocxPath, UserValue(control + L"\\InprocServer32"));
    EXPECT_EQ(L"1:Apartment", UserValue(control + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(L"1:", UserValue(control + L"\\Control"));
    EXPECT_EQ(L"1:148881", UserValue(control + L"\\MiscStatus"));
    EXPECT_EQ(L"1:" + g_ocxPath + L", 30000", UserValue(control + L"\\ToolboxBitmap32"));
    EXPECT_EQ(L"1:" + GuidText(plavox::CLSID_Plavox), UserValue(L"Quillon.Plavox\\CLSID"));
    EXPECT_EQ(L"1:Quillon.Plavox.1", UserValue(L"Quillon.Plavox\\CurVer"));
    EXPECT_EQ(L"1:" + g_ocxPath, UserValue(library + L"\\0\\win32"));
    EXPECT_EQ(L"1:2", UserValue(library + L"\\FLAGS"));  // LIBFLAG_FCONTROL
    EXPECT_EQ(L"1:" + GuidText(plavox::LIBID_Quillon),
              UserValue(L"Interface\\" + GuidText(plavox::DIID___Plavox) + L"\\TypeLib"));
}

TEST_F(UserRegistrationTest, RemovalLeavesNothingOfItsOwnAndTheMachineWideOneAlone)
{
    ASSERT_EQ(S_OK, register_());
    const Tree machine = MachineRegistration();
    ASSERT_EQ(S_OK, install_(TRUE, L"user"));
    ASSERT_FALSE(UserRegistration().empty());

    EXPECT_EQ(S_OK, install_(FALSE, L"user"));
    EXPECT_TRUE(UserRegistration().empty());
    EXPECT_EQ(machine, MachineRegistration());
    // Removing what is not there is no failure, and writing twice is one registration.
    EXPECT_EQ(S_OK, install_(FALSE, L"user"));
    EXPECT_EQ(S_OK, install_(TRUE, L"USER"));
    EXPECT_EQ(S_OK, install_(TRUE, L"user"));
    EXPECT_EQ(S_OK, install_(FALSE, L"user"));
    EXPECT_TRUE(UserRegistration().empty());
}

TEST_F(UserRegistrationTest, TakesOnlyTheUserScope)
{
    for (const wchar_t* command_line : {static_cast<const wchar_t*>(nullptr), L"", L"machine", L"users", L"user "}) {
        EXPECT_EQ(E_INVALIDARG, install_(TRUE, command_line)) << (command_line ? command_line : L"(null)");
        EXPECT_EQ(E_INVALIDARG, install_(FALSE, command_line));
    }
    EXPECT_TRUE(UserRegistration().empty());
    EXPECT_TRUE(MachineRegistration().empty());
}

DWORD RunRegsvr32(const std::wstring& options)
{
    std::wstring command = L"regsvr32.exe " + options + L" \"" + g_ocxPath + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return static_cast<DWORD>(-1);
    nj::unique_handle thread(process.hThread);
    nj::unique_handle handle(process.hProcess);
    ::WaitForSingleObject(handle.get(), 60000);
    DWORD code = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(handle.get(), &code);
    return code;
}

TEST_F(UserRegistrationTest, Regsvr32RegistersAndRemovesForTheUser)
{
    ASSERT_EQ(0u, RunRegsvr32(L"/s /n /i:user"));
    EXPECT_EQ(L"1:" + g_ocxPath, UserValue(L"CLSID\\" + GuidText(plavox::CLSID_Plavox) + L"\\InprocServer32"));
    EXPECT_TRUE(MachineRegistration().empty());
    ASSERT_EQ(0u, RunRegsvr32(L"/s /n /u /i:user"));
    EXPECT_TRUE(UserRegistration().empty());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fputs("usage: user_registration_test PLAVOX.OCX\n", stderr);
        return 2;
    }
    wchar_t full[MAX_PATH];
    if (!::GetFullPathNameW(argv[1], MAX_PATH, full, nullptr)) return 2;
    g_ocxPath = full;
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    if (SUCCEEDED(hr)) ::CoUninitialize();
    return result;
}
