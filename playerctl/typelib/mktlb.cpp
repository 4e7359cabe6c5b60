// Build step: writes Plavox's type library and the three identifier
// resources that sit beside it in Plavox.ocx.
//
//   mktlb.exe OUT.tlb [DIR]
//
// The library is written through oleaut32's ICreateTypeLib2, then three
// fields that Wine's writer gets wrong are mended in the saved file. With DIR,
// the identifier resources _iid_plavox.bin, _srciid_plavox.bin and
// _iid_clsplavox.bin are written there too.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "msft_layout.h"
#include "nj/result.h"
#include "nj/unique.h"
#include "plavox/plavox.h"

namespace {

using Microsoft::WRL::ComPtr;

// {00020430-0000-0000-C000-000000000046}, the OLE Automation library.
constexpr GUID LIBID_stdole = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr DWORD kDispatchSlots = 7;  // IUnknown's three and IDispatch's four
constexpr WORD kDualFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION |
                            TYPEFLAG_FDISPATCHABLE;                                            // 0x11D0
constexpr WORD kEventFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;  // 0x1090
constexpr MEMBERID kFirstFieldId = 0x40000000;

// Indexes of the types, in the order the library lists them.
enum TypeIndex : UINT {
    kPlavoxInterface,
    kPlavoxClass,
    kClsPlavoxInterface,
    kClsPlavoxClass,
    kEventInterface,
    kPlayStatus,
    kTrackDetail,
    kTypeCount,
};

struct Types {
    ComPtr<ICreateTypeInfo> info[kTypeCount];
};

HRESULT CreateTypes(ICreateTypeLib2* lib, Types& types)
{
    struct Entry {
        const wchar_t* name;
        TYPEKIND kind;
        const GUID* guid;
    };
    static constexpr Entry entries[kTypeCount] = {
        {L"_Plavox", TKIND_INTERFACE, &plavox::IID__Plavox},
        {L"Plavox", TKIND_COCLASS, &plavox::CLSID_Plavox},
        {L"_clsPlavox", TKIND_INTERFACE, &plavox::IID__clsPlavox},
        {L"clsPlavox", TKIND_COCLASS, &plavox::CLSID_clsPlavox},
        {L"__Plavox", TKIND_DISPATCH, &plavox::DIID___Plavox},
        {L"PlavoxPlayStatus", TKIND_ENUM, &plavox::GUID_PlavoxPlayStatus},
        {L"TrackDetail", TKIND_RECORD, &plavox::GUID_TrackDetail},
    };
    for (UINT i = 0; i < kTypeCount; ++i) {
        RETURN_IF_FAILED(lib->CreateTypeInfo(const_cast<LPOLESTR>(entries[i].name), entries[i].kind,
                                             types.info[i].GetAddressOf()));
        RETURN_IF_FAILED(types.info[i]->SetGuid(*entries[i].guid));
        RETURN_IF_FAILED(types.info[i]->SetVersion(1, 0));
    }
    return S_OK;
}

HRESULT RefOf(ICreateTypeInfo* from, ITypeInfo* to, HREFTYPE* ref)
{
    return from->AddRefTypeInfo(to, ref);
}

HRESULT RefOf(ICreateTypeInfo* from, ICreateTypeInfo* to, HREFTYPE* ref)
{
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(to->QueryInterface(IID_PPV_ARGS(&info)));
    return from->AddRefTypeInfo(info.Get(), ref);
}

HRESULT SetNames(ICreateTypeInfo* info, UINT index, std::initializer_list<const wchar_t*> names)
{
    std::vector<LPOLESTR> list;
    for (const wchar_t* name : names) list.push_back(const_cast<LPOLESTR>(name));
    return info->SetFuncAndParamNames(index, list.data(), static_cast<UINT>(list.size()));
}

// A dual interface's member: returns an HRESULT, standard call, no flags.
HRESULT AddDualMember(ICreateTypeInfo* info, UINT index, MEMBERID id, INVOKEKIND kind, ELEMDESC* params,
                      SHORT param_count)
{
    FUNCDESC desc{};
    desc.memid = id;
    desc.lprgelemdescParam = params;
    desc.funckind = FUNC_PUREVIRTUAL;
    desc.invkind = kind;
    desc.callconv = CC_STDCALL;
    desc.cParams = param_count;
    desc.oVft = static_cast<SHORT>((kDispatchSlots + index) * sizeof(void*));
    desc.elemdescFunc.tdesc.vt = VT_HRESULT;
    return info->AddFuncDesc(index, &desc);
}

// Both dual interfaces derive from stdole2's IDispatch.
HRESULT AddDualInterface(ICreateTypeInfo* info, ITypeInfo* dispatch)
{
    HREFTYPE base = 0;
    RETURN_IF_FAILED(RefOf(info, dispatch, &base));
    RETURN_IF_FAILED(info->AddImplType(0, base));
    return info->SetTypeFlags(kDualFlags);
}

HRESULT BuildPlavoxInterface(ICreateTypeInfo* info, ITypeInfo* dispatch)
{
    RETURN_IF_FAILED(AddDualInterface(info, dispatch));

    struct Method {
        const wchar_t* name;
        MEMBERID id;
        bool takes_filename;
    };
    static constexpr Method methods[] = {
        {L"PlayTrack", plavox::DISPID_PlayTrack, false},
        {L"PauseTrack", plavox::DISPID_PauseTrack, false},
        {L"StopTrack", plavox::DISPID_StopTrack, false},
        {L"NextTrack", plavox::DISPID_NextTrack, false},
        {L"PrevTrack", plavox::DISPID_PrevTrack, false},
        {L"SkipFwd", plavox::DISPID_SkipFwd, false},
        {L"SkipBack", plavox::DISPID_SkipBack, false},
        {L"FadeAndStop", plavox::DISPID_FadeAndStop, false},
        {L"Shuffle", plavox::DISPID_Shuffle, false},
        {L"LaunchFile", plavox::DISPID_LaunchFile, true},
        {L"Addfile", plavox::DISPID_Addfile, true},
        {L"ClearPlaylist", plavox::DISPID_ClearPlaylist, false},
        {L"KillPlavox", plavox::DISPID_KillPlavox, false},
    };

    UINT index = 0;
    for (const Method& method : methods) {
        if (method.takes_filename) {
            TYPEDESC bstr{};
            bstr.vt = VT_BSTR;
            ELEMDESC filename{};
            filename.tdesc.vt = VT_PTR;
            filename.tdesc.lptdesc = &bstr;
            filename.paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;
            RETURN_IF_FAILED(AddDualMember(info, index, method.id, INVOKE_FUNC, &filename, 1));
            RETURN_IF_FAILED(SetNames(info, index, {method.name, L"filename"}));
        } else {
            RETURN_IF_FAILED(AddDualMember(info, index, method.id, INVOKE_FUNC, nullptr, 0));
            RETURN_IF_FAILED(SetNames(info, index, {method.name}));
        }
        ++index;
    }

    // Enabled: both parameters are unnamed, as hosts know them only by position.
    TYPEDESC boolean{};
    boolean.vt = VT_BOOL;
    ELEMDESC result{};
    result.tdesc.vt = VT_PTR;
    result.tdesc.lptdesc = &boolean;
    result.paramdesc.wParamFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    RETURN_IF_FAILED(AddDualMember(info, index, plavox::DISPID_Enabled, INVOKE_PROPERTYGET, &result, 1));
    RETURN_IF_FAILED(SetNames(info, index, {L"Enabled"}));
    ++index;

    ELEMDESC state{};
    state.tdesc.vt = VT_BOOL;
    state.paramdesc.wParamFlags = PARAMFLAG_FIN;
    RETURN_IF_FAILED(AddDualMember(info, index, plavox::DISPID_Enabled, INVOKE_PROPERTYPUT, &state, 1));
    RETURN_IF_FAILED(SetNames(info, index, {L"Enabled"}));
    return S_OK;
}

HRESULT AddEvent(ICreateTypeInfo* info, UINT index, MEMBERID id, TYPEDESC* pointee, const wchar_t* name,
                 const wchar_t* param)
{
    ELEMDESC arg{};
    arg.tdesc.vt = VT_PTR;
    arg.tdesc.lptdesc = pointee;
    arg.paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;

    FUNCDESC desc{};
    desc.memid = id;
    desc.lprgelemdescParam = &arg;
    desc.funckind = FUNC_DISPATCH;
    desc.invkind = INVOKE_FUNC;
    desc.callconv = CC_STDCALL;
    desc.cParams = 1;
    desc.elemdescFunc.tdesc.vt = VT_VOID;
    RETURN_IF_FAILED(info->AddFuncDesc(index, &desc));
    return SetNames(info, index, {name, param});
}

HRESULT BuildEventInterface(ICreateTypeInfo* info, ITypeInfo* dispatch, ICreateTypeInfo* detail)
{
    HREFTYPE base = 0;
    RETURN_IF_FAILED(RefOf(info, dispatch, &base));
    RETURN_IF_FAILED(info->AddImplType(0, base));
    RETURN_IF_FAILED(info->SetTypeFlags(kEventFlags));

    HREFTYPE record = 0;
    RETURN_IF_FAILED(RefOf(info, detail, &record));
    TYPEDESC track{};
    track.vt = VT_USERDEFINED;
    track.hreftype = record;
    RETURN_IF_FAILED(AddEvent(info, 0, plavox::DISPID_TrackChanged, &track, L"TrackChanged", L"detail"));

    TYPEDESC seconds{};
    seconds.vt = VT_I4;
    return AddEvent(info, 1, plavox::DISPID_PlayPositionChanged, &seconds, L"PlayPositionChanged",
                    L"SecondsElapsed");
}

// Flags go on after the implemented interfaces: Wine's writer adds its own
// bits to a class's flags whenever an interface is added.
HRESULT BuildClass(ICreateTypeInfo* info, ICreateTypeInfo* primary, ICreateTypeInfo* events, WORD flags)
{
    HREFTYPE ref = 0;
    RETURN_IF_FAILED(RefOf(info, primary, &ref));
    RETURN_IF_FAILED(info->AddImplType(0, ref));
    RETURN_IF_FAILED(info->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT));
    if (events) {
        RETURN_IF_FAILED(RefOf(info, events, &ref));
        RETURN_IF_FAILED(info->AddImplType(1, ref));
        RETURN_IF_FAILED(info->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE));
    }
    return info->SetTypeFlags(flags);
}

HRESULT BuildPlayStatus(ICreateTypeInfo* info)
{
    struct Constant {
        const wchar_t* name;
        LONG value;
    };
    static constexpr Constant constants[] = {
        {L"Playing", plavox::Playing},
        {L"Paused", plavox::Paused},
        {L"Stopped", plavox::Stopped},
        {L"Error", plavox::Error},
    };
    RETURN_IF_FAILED(info->SetAlignment(4));
    UINT index = 0;
    for (const Constant& constant : constants) {
        VARIANT value;
        V_VT(&value) = VT_I4;
        V_I4(&value) = constant.value;
        VARDESC desc{};
        desc.memid = kFirstFieldId + static_cast<MEMBERID>(index);
        desc.lpvarValue = &value;
        desc.elemdescVar.tdesc.vt = VT_I4;
        desc.varkind = VAR_CONST;
        RETURN_IF_FAILED(info->AddVarDesc(index, &desc));
        RETURN_IF_FAILED(info->SetVarName(index, const_cast<LPOLESTR>(constant.name)));
        RETURN_IF_FAILED(info->SetVarDocString(index, const_cast<LPOLESTR>(constant.name)));
        ++index;
    }
    return S_OK;
}

HRESULT BuildTrackDetail(ICreateTypeInfo* info, ICreateTypeInfo* status)
{
    HREFTYPE status_ref = 0;
    RETURN_IF_FAILED(RefOf(info, status, &status_ref));

    struct Field {
        const wchar_t* name;
        VARTYPE vt;
        ULONG offset;
    };
    static constexpr Field fields[] = {
        {L"Title", VT_BSTR, offsetof(plavox::TrackDetail, Title)},
        {L"Artist", VT_BSTR, offsetof(plavox::TrackDetail, Artist)},
        {L"TrackNumber", VT_BSTR, offsetof(plavox::TrackDetail, TrackNumber)},
        {L"Status", VT_USERDEFINED, offsetof(plavox::TrackDetail, Status)},
        {L"Freq", VT_BSTR, offsetof(plavox::TrackDetail, Freq)},
        {L"Rate", VT_BSTR, offsetof(plavox::TrackDetail, Rate)},
        {L"Length", VT_I4, offsetof(plavox::TrackDetail, Length)},
        {L"CurrentPos", VT_BSTR, offsetof(plavox::TrackDetail, CurrentPos)},
    };
    RETURN_IF_FAILED(info->SetAlignment(4));
    UINT index = 0;
    for (const Field& field : fields) {
        VARDESC desc{};
        desc.memid = kFirstFieldId + static_cast<MEMBERID>(index);
        desc.oInst = field.offset;
        desc.elemdescVar.tdesc.vt = field.vt;
        if (field.vt == VT_USERDEFINED) desc.elemdescVar.tdesc.hreftype = status_ref;
        desc.varkind = VAR_PERINSTANCE;
        RETURN_IF_FAILED(info->AddVarDesc(index, &desc));
        RETURN_IF_FAILED(info->SetVarName(index, const_cast<LPOLESTR>(field.name)));
        RETURN_IF_FAILED(info->SetVarDocString(index, const_cast<LPOLESTR>(field.name)));
        ++index;
    }
    return S_OK;
}

HRESULT SetLibraryAttributes(ICreateTypeLib2* lib)
{
    RETURN_IF_FAILED(lib->SetGuid(plavox::LIBID_Quillon));
    RETURN_IF_FAILED(lib->SetName(const_cast<LPOLESTR>(L"Quillon")));
    RETURN_IF_FAILED(lib->SetDocString(const_cast<LPOLESTR>(L"Quillon")));
    RETURN_IF_FAILED(lib->SetVersion(plavox::kLibMajor, plavox::kLibMinor));
    RETURN_IF_FAILED(lib->SetLcid(0x0409));
    return lib->SetLibFlags(LIBFLAG_FCONTROL);
}

HRESULT WriteTypeLibrary(const std::wstring& path)
{
    ComPtr<ICreateTypeLib2> lib;
    RETURN_IF_FAILED(CreateTypeLib2(SYS_WIN32, path.c_str(), &lib));
    RETURN_IF_FAILED(SetLibraryAttributes(lib.Get()));

    ComPtr<ITypeLib> stdole;
    RETURN_IF_FAILED(LoadRegTypeLib(LIBID_stdole, 2, 0, LOCALE_NEUTRAL, &stdole));
    ComPtr<ITypeInfo> dispatch;
    RETURN_IF_FAILED(stdole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch));

    Types types;
    RETURN_IF_FAILED(CreateTypes(lib.Get(), types));
    auto* t = types.info;
    RETURN_IF_FAILED(BuildPlavoxInterface(t[kPlavoxInterface].Get(), dispatch.Get()));
    RETURN_IF_FAILED(AddDualInterface(t[kClsPlavoxInterface].Get(), dispatch.Get()));
    RETURN_IF_FAILED(BuildEventInterface(t[kEventInterface].Get(), dispatch.Get(), t[kTrackDetail].Get()));
    RETURN_IF_FAILED(BuildPlayStatus(t[kPlayStatus].Get()));
    RETURN_IF_FAILED(BuildTrackDetail(t[kTrackDetail].Get(), t[kPlayStatus].Get()));
    RETURN_IF_FAILED(BuildClass(t[kPlavoxClass].Get(), t[kPlavoxInterface].Get(), t[kEventInterface].Get(),
                                TYPEFLAG_FCONTROL));
    RETURN_IF_FAILED(BuildClass(t[kClsPlavoxClass].Get(), t[kClsPlavoxInterface].Get(), nullptr, 0));

    for (auto& info : types.info) RETURN_IF_FAILED(info->LayOut());
    return lib->SaveAllChanges();
}

bool ReadFile(const std::wstring& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFile(const std::wstring& path, const void* data, size_t size)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    return !out.fail();
}

// Mends what Wine's writer gets wrong: the record's size (saved as 0), and
// the event interface stored as if it carried IDispatch's seven functions
// itself. A dispatch-only interface's vtable size counts only its own
// functions (readers take the function count from it), and it has no base
// entry: its one implemented type, IDispatch, is implied.
bool MendImage(std::vector<uint8_t>& image)
{
    namespace m = plavox::msft;
    const auto record = m::TypeEntryOffset(image, kTrackDetail);
    const auto events = m::TypeEntryOffset(image, kEventInterface);
    if (!record || !events) return false;
    if ((m::ReadU32(image, *record + m::kTypeKind) & 0xF) != TKIND_RECORD) return false;
    if ((m::ReadU32(image, *events + m::kTypeKind) & 0xF) != TKIND_DISPATCH) return false;

    m::WriteU32(image, *record + m::kTypeSize, sizeof(plavox::TrackDetail));
    const uint32_t functions = m::ReadU32(image, *events + m::kTypeElements) & 0xFFFF;
    m::WriteU16(image, *events + m::kTypeVftSize, static_cast<uint16_t>(functions * sizeof(void*)));
    m::WriteU32(image, *events + m::kTypeBase, 0xFFFFFFFF);
    m::WriteU32(image, *events + m::kTypeBaseInfo, 0);
    return true;
}

// 32-bit little-endian 16, then the GUID in its in-memory (Windows) order.
bool WriteIdentifier(const std::wstring& path, const GUID& iid)
{
    uint8_t bytes[4 + sizeof(GUID)] = {sizeof(GUID), 0, 0, 0};
    memcpy(bytes + 4, &iid, sizeof(GUID));
    return WriteFile(path, bytes, sizeof(bytes));
}

int Fail(const char* what, HRESULT hr = E_FAIL)
{
    std::fprintf(stderr, "mktlb: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: mktlb OUT.tlb [RESOURCE-DIR]\n");
        return 2;
    }
    const std::wstring out = argv[1];
    auto com = nj::CoInitializeApartment();

    // A half-written library must not survive: the build would embed it.
    DeleteFileW(out.c_str());
    nj::scope_exit remove_partial([&] { DeleteFileW(out.c_str()); });

    const HRESULT hr = WriteTypeLibrary(out);
    if (FAILED(hr)) return Fail("writing the type library failed", hr);
    std::vector<uint8_t> image;
    if (!ReadFile(out, image)) return Fail("reading back the type library failed");
    if (!MendImage(image)) return Fail("the saved type library has an unexpected layout");
    if (!WriteFile(out, image.data(), image.size())) return Fail("writing the mended type library failed");
    remove_partial.dismiss();

    if (argc == 3) {
        const std::wstring dir = std::wstring(argv[2]) + L"\\";
        if (!WriteIdentifier(dir + L"_iid_plavox.bin", plavox::IID__Plavox) ||
            !WriteIdentifier(dir + L"_srciid_plavox.bin", plavox::DIID___Plavox) ||
            !WriteIdentifier(dir + L"_iid_clsplavox.bin", plavox::IID__clsPlavox))
            return Fail("writing the identifier resources failed");
    }
    return 0;
}
