#include "registration.h"

#include <oleauto.h>

#include <string>
#include <vector>

#include "mdl_plavox.h"
#include "nj/result.h"
#include "nj/unique.h"
#include "plavox/plavox.h"

namespace plavox {
namespace {

constexpr wchar_t kVersionedProgId[] = L"Quillon.Plavox.1";
// The library's version as the TypeLib and Interface keys spell it, in hex
// (major 10, minor 0), and as the control's Version mark shows it.
constexpr wchar_t kLibKeyVersion[] = L"a.0";
constexpr wchar_t kControlVersion[] = L"10.0";
// Proxy/stub classes of OLE Automation: one for dual interfaces, one for
// dispatch-only interfaces.
constexpr wchar_t kDualProxy[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kDispatchProxy[] = L"{00020420-0000-0000-C000-000000000046}";

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

// One value to write: key under HKEY_CLASSES_ROOT, value name (empty for
// the default value) and text.
struct RegistryValue {
    std::wstring key;
    std::wstring name;
    std::wstring data;
};

struct ObjectRegistration {
    const wchar_t* name;
    const CLSID* clsid;
    const wchar_t* progId;  // null: no ProgID
    bool isControl;
};

constexpr ObjectRegistration kObjects[] = {
    {L"clsPlavox", &CLSID_clsPlavox, nullptr, false},
    {L"Plavox", &CLSID_Plavox, kProgId, true},
};

struct InterfaceRegistration {
    const wchar_t* name;
    const IID* iid;
    const wchar_t* proxy;
};

constexpr InterfaceRegistration kInterfaces[] = {
    {L"_Plavox", &IID__Plavox, kDualProxy},
    {L"__Plavox", &DIID___Plavox, kDispatchProxy},
    {L"_clsPlavox", &IID__clsPlavox, kDualProxy},
};

void AddTypeLibrary(std::vector<RegistryValue>& values, const std::wstring& path)
{
    const std::wstring key = L"TypeLib\\" + GuidText(LIBID_Quillon) + L"\\" + kLibKeyVersion;
    values.push_back({key, L"", L"Quillon"});
    values.push_back({key + L"\\FLAGS", L"", std::to_wstring(LIBFLAG_FCONTROL)});
    values.push_back({key + L"\\HELPDIR", L"", L""});
    values.push_back({key + L"\\0\\win32", L"", path});
}

void AddInterfaces(std::vector<RegistryValue>& values)
{
    const std::wstring libid = GuidText(LIBID_Quillon);
    for (const InterfaceRegistration& entry : kInterfaces) {
        const std::wstring key = L"Interface\\" + GuidText(*entry.iid);
        values.push_back({key, L"", entry.name});
        values.push_back({key + L"\\ProxyStubClsid", L"", entry.proxy});
        values.push_back({key + L"\\ProxyStubClsid32", L"", entry.proxy});
        values.push_back({key + L"\\TypeLib", L"", libid});
        values.push_back({key + L"\\TypeLib", L"Version", kLibKeyVersion});
    }
}

void AddObject(std::vector<RegistryValue>& values, const ObjectRegistration& object, const std::wstring& path)
{
    const std::wstring clsid = GuidText(*object.clsid);
    const std::wstring key = L"CLSID\\" + clsid;
    values.push_back({key, L"", object.progId ? object.progId : object.name});
    values.push_back({key + L"\\InprocServer32", L"", path});
    values.push_back({key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"});
    values.push_back({key + L"\\TypeLib", L"", GuidText(LIBID_Quillon)});
    values.push_back({key + L"\\Version", L"", kControlVersion});
    if (object.progId) {
        values.push_back({key + L"\\ProgID", L"", kVersionedProgId});
        values.push_back({key + L"\\VersionIndependentProgID", L"", object.progId});
        const std::wstring progId = object.progId;
        values.push_back({progId, L"", object.name});
        values.push_back({progId + L"\\CLSID", L"", clsid});
        values.push_back({progId + L"\\CurVer", L"", kVersionedProgId});
        values.push_back({kVersionedProgId, L"", object.name});
        values.push_back({std::wstring(kVersionedProgId) + L"\\CLSID", L"", clsid});
    }
    if (object.isControl) {
        const std::wstring status = std::to_wstring(kControlMiscStatus);
        values.push_back({key + L"\\Control", L"", L""});
        values.push_back({key + L"\\MiscStatus", L"", status});
        values.push_back({key + L"\\MiscStatus\\1", L"", status});
        values.push_back({key + L"\\ToolboxBitmap32", L"", path + L", " + std::to_wstring(kToolboxBitmapId)});
    }
}

HRESULT WriteValue(HKEY root, const RegistryValue& value) noexcept
{
    nj::unique_hkey key;
    RETURN_IF_WIN32_ERROR(::RegCreateKeyExW(root, value.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_SET_VALUE, nullptr, key.put(), nullptr));
    const auto bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t));
    RETURN_IF_WIN32_ERROR(::RegSetValueExW(key.get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(value.data.c_str()), bytes));
    return S_OK;
}

// Deletes a key with everything below it; a key that is not there is gone already.
HRESULT DeleteTree(HKEY root, const std::wstring& key) noexcept
{
    const LSTATUS status = ::RegDeleteTreeW(root, key.c_str());
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return S_OK;
    RETURN_IF_WIN32_ERROR(status);
    // RegDeleteTree empties the key; the key itself goes separately.
    const LSTATUS removed = ::RegDeleteKeyW(root, key.c_str());
    if (removed == ERROR_FILE_NOT_FOUND) return S_OK;
    RETURN_IF_WIN32_ERROR(removed);
    return S_OK;
}

HRESULT ModulePath(HMODULE module, std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, buffer, MAX_PATH);
    RETURN_HR_IF(nj::last_error_hr(), length == 0);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), length == MAX_PATH);
    path.assign(buffer, length);
    return S_OK;
}

HRESULT Register(HKEY root, HMODULE module) noexcept
{
    try {
        std::wstring path;
        RETURN_IF_FAILED(ModulePath(module, path));
        // The library that gets registered must be there to be read.
        ComPtr<ITypeLib> library;
        RETURN_IF_FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library));

        std::vector<RegistryValue> values;
        AddTypeLibrary(values, path);
        AddInterfaces(values);
        for (const ObjectRegistration& object : kObjects) AddObject(values, object, path);
        for (const RegistryValue& value : values) RETURN_IF_FAILED(WriteValue(root, value));
        return S_OK;
    }
    NJ_CATCH_RETURN()
}

HRESULT Unregister(HKEY root) noexcept
{
    try {
        for (const ObjectRegistration& object : kObjects) {
            RETURN_IF_FAILED(DeleteTree(root, L"CLSID\\" + GuidText(*object.clsid)));
            if (object.progId) RETURN_IF_FAILED(DeleteTree(root, object.progId));
        }
        RETURN_IF_FAILED(DeleteTree(root, kVersionedProgId));
        for (const InterfaceRegistration& entry : kInterfaces) {
            RETURN_IF_FAILED(DeleteTree(root, L"Interface\\" + GuidText(*entry.iid)));
        }
        const std::wstring library = L"TypeLib\\" + GuidText(LIBID_Quillon);
        RETURN_IF_FAILED(DeleteTree(root, library + L"\\" + kLibKeyVersion));
        // Other versions of the library keep their common key.
        const LSTATUS status = ::RegDeleteKeyW(root, library.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_ACCESS_DENIED) {
            return HRESULT_FROM_WIN32(status);
        }
        return S_OK;
    }
    NJ_CATCH_RETURN()
}

// The current user's classes: what HKEY_CLASSES_ROOT shows that user above
// the machine's, writable without administrator rights. The type library
// keys are written here by hand like the rest, because the system's own
// per-user type library registration is machine-wide on some platforms.
HRESULT OpenUserClasses(nj::unique_hkey& classes) noexcept
{
    RETURN_IF_WIN32_ERROR(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, classes.put(),
                                            nullptr));
    return S_OK;
}

}  // namespace

HRESULT RegisterServer(HMODULE module) noexcept { return Register(HKEY_CLASSES_ROOT, module); }

HRESULT UnregisterServer() noexcept { return Unregister(HKEY_CLASSES_ROOT); }

HRESULT RegisterForUser(HMODULE module) noexcept
{
    nj::unique_hkey classes;
    RETURN_IF_FAILED(OpenUserClasses(classes));
    const HRESULT hr = Register(classes.get(), module);
    // Half a registration would point hosts at a control they cannot create.
    if (FAILED(hr)) Unregister(classes.get());
    return hr;
}

HRESULT UnregisterForUser() noexcept
{
    nj::unique_hkey classes;
    RETURN_IF_FAILED(OpenUserClasses(classes));
    return Unregister(classes.get());
}

HRESULT Install(HMODULE module, bool install, const wchar_t* command_line) noexcept
{
    // "user" is the only scope DllInstall takes; the machine-wide
    // registration stays with DllRegisterServer and DllUnregisterServer.
    if (command_line == nullptr || ::lstrcmpiW(command_line, L"user") != 0) return E_INVALIDARG;
    return install ? RegisterForUser(module) : UnregisterForUser();
}

}  // namespace plavox
