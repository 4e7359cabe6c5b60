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

HRESULT WriteValue(const RegistryValue& value) noexcept
{
    nj::unique_hkey key;
    RETURN_IF_WIN32_ERROR(::RegCreateKeyExW(HKEY_CLASSES_ROOT, value.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            KEY_SET_VALUE, nullptr, key.put(), nullptr));
    const auto bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t));
    RETURN_IF_WIN32_ERROR(::RegSetValueExW(key.get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(value.data.c_str()), bytes));
    return S_OK;
}

// Deletes a key with everything below it; a key that is not there is gone already.
HRESULT DeleteTree(const std::wstring& key) noexcept
{
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return S_OK;
    RETURN_IF_WIN32_ERROR(status);
    // RegDeleteTree empties the key; the key itself goes separately.
    const LSTATUS removed = ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
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

}  // namespace

HRESULT RegisterServer(HMODULE module) noexcept
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
        for (const RegistryValue& value : values) RETURN_IF_FAILED(WriteValue(value));
        return S_OK;
    }
    NJ_CATCH_RETURN()
}

HRESULT UnregisterServer() noexcept
{
    try {
        for (const ObjectRegistration& object : kObjects) {
            RETURN_IF_FAILED(DeleteTree(L"CLSID\\" + GuidText(*object.clsid)));
            if (object.progId) RETURN_IF_FAILED(DeleteTree(object.progId));
        }
        RETURN_IF_FAILED(DeleteTree(kVersionedProgId));
        for (const InterfaceRegistration& entry : kInterfaces) {
            RETURN_IF_FAILED(DeleteTree(L"Interface\\" + GuidText(*entry.iid)));
        }
        const std::wstring library = L"TypeLib\\" + GuidText(LIBID_Quillon);
        RETURN_IF_FAILED(DeleteTree(library + L"\\" + kLibKeyVersion));
        // Other versions of the library keep their common key.
        const LSTATUS status = ::RegDeleteKeyW(HKEY_CLASSES_ROOT, library.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && status != ERROR_ACCESS_DENIED) {
            return HRESULT_FROM_WIN32(status);
        }
        return S_OK;
    }
    NJ_CATCH_RETURN()
}

}  // namespace plavox
