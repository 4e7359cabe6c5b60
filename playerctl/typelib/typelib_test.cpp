// Reads Plavox's type library back through oleaut32, both the file the build
// wrote and the copy embedded in a module, and checks what hosts rely on:
// type order, kinds, flags, DISPIDs, parameter directions and types, the
// record's layout, the enumeration's values and the events.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "msft_layout.h"
#include "nj/unique.h"
#include "plavox/plavox.h"
#include "test_paths.h"

namespace {

using Microsoft::WRL::ComPtr;

constexpr GUID LIBID_stdole = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Attribute and description blocks handed back to their owners at scope end.
struct TypeAttr {
    explicit TypeAttr(ITypeInfo* info) : info_(info) { EXPECT_EQ(S_OK, info->GetTypeAttr(&attr_)); }
    ~TypeAttr()
    {
        if (attr_) info_->ReleaseTypeAttr(attr_);
    }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    const TYPEATTR* operator->() const { return attr_; }

private:
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
};

struct FuncDesc {
    FuncDesc(ITypeInfo* info, UINT index) : info_(info) { EXPECT_EQ(S_OK, info->GetFuncDesc(index, &desc_)); }
    ~FuncDesc()
    {
        if (desc_) info_->ReleaseFuncDesc(desc_);
    }
    FuncDesc(const FuncDesc&) = delete;
    FuncDesc& operator=(const FuncDesc&) = delete;
    const FUNCDESC* operator->() const { return desc_; }

private:
    ITypeInfo* info_;
    FUNCDESC* desc_ = nullptr;
};

struct VarDesc {
    VarDesc(ITypeInfo* info, UINT index) : info_(info) { EXPECT_EQ(S_OK, info->GetVarDesc(index, &desc_)); }
    ~VarDesc()
    {
        if (desc_) info_->ReleaseVarDesc(desc_);
    }
    VarDesc(const VarDesc&) = delete;
    VarDesc& operator=(const VarDesc&) = delete;
    const VARDESC* operator->() const { return desc_; }

private:
    ITypeInfo* info_;
    VARDESC* desc_ = nullptr;
};

std::wstring NameOf(ITypeInfo* info, MEMBERID id = MEMBERID_NIL)
{
    nj::unique_bstr name;
    EXPECT_EQ(S_OK, info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr));
    return name ? name.get() : L"";
}

std::wstring DocOf(ITypeInfo* info, MEMBERID id)
{
    nj::unique_bstr doc;
    EXPECT_EQ(S_OK, info->GetDocumentation(id, nullptr, doc.put(), nullptr, nullptr));
    return doc ? doc.get() : L"";
}

std::vector<std::wstring> NamesOf(ITypeInfo* info, MEMBERID id)
{
    BSTR names[8] = {};
    UINT count = 0;
    EXPECT_EQ(S_OK, info->GetNames(id, names, 8, &count));
    std::vector<std::wstring> out;
    for (UINT i = 0; i < count; ++i) {
        out.emplace_back(names[i] ? names[i] : L"");
        SysFreeString(names[i]);
    }
    return out;
}

ComPtr<ITypeInfo> Referenced(ITypeInfo* info, HREFTYPE ref)
{
    ComPtr<ITypeInfo> target;
    EXPECT_EQ(S_OK, info->GetRefTypeInfo(ref, &target));
    return target;
}

ComPtr<ITypeInfo> ImplementedType(ITypeInfo* info, UINT index)
{
    HREFTYPE ref = 0;
    EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(index, &ref));
    return Referenced(info, ref);
}

// A dual interface loads as its dispatch view; its flags and vtable members
// are read through the interface view.
ComPtr<ITypeInfo> InterfaceView(ITypeInfo* dual)
{
    return ImplementedType(dual, static_cast<UINT>(-1));
}

std::vector<uint8_t> ReadBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Index order of the library's types.
enum : UINT { kPlavoxIface, kPlavoxClass, kClsIface, kClsClass, kEvents, kStatus, kDetail };

// Every check runs over the built file and over the copy embedded in a module.
class TypeLibrary : public testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override
    {
        const std::wstring path = nj::test::BesideTest(GetParam());
        ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib_)) << "cannot load " << GetParam();
    }

    ComPtr<ITypeInfo> Type(UINT index)
    {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, lib_->GetTypeInfo(index, &info));
        return info;
    }

    ComPtr<ITypeLib> lib_;
};

TEST_P(TypeLibrary, LibraryAttributes)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, lib_->GetLibAttr(&attr));
    EXPECT_EQ(plavox::LIBID_Quillon, attr->guid);
    EXPECT_EQ(0x0409u, attr->lcid);
    EXPECT_EQ(SYS_WIN32, attr->syskind);
    EXPECT_EQ(10, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    // oleaut32 adds the has-disk-image bit when it reads a library.
    EXPECT_EQ(LIBFLAG_FCONTROL, attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
    lib_->ReleaseTLibAttr(attr);

    nj::unique_bstr name, doc, help_file;
    ASSERT_EQ(S_OK, lib_->GetDocumentation(-1, name.put(), doc.put(), nullptr, help_file.put()));
    EXPECT_STREQ(L"Quillon", name.get());
    EXPECT_STREQ(L"Quillon", doc.get());
    EXPECT_FALSE(help_file);
}

TEST_P(TypeLibrary, TypesInPublishedOrder)
{
    struct Expected {
        const wchar_t* name;
        const GUID* guid;
        TYPEKIND kind;  // as loaded: dual interfaces read as their dispatch view
        WORD flags;     // dual interfaces: through the interface view
    };
    const Expected types[] = {
        {L"_Plavox", &plavox::IID__Plavox, TKIND_DISPATCH, 0x11D0},
        {L"Plavox", &plavox::CLSID_Plavox, TKIND_COCLASS, TYPEFLAG_FCONTROL},
        {L"_clsPlavox", &plavox::IID__clsPlavox, TKIND_DISPATCH, 0x11D0},
        {L"clsPlavox", &plavox::CLSID_clsPlavox, TKIND_COCLASS, 0},
        {L"__Plavox", &plavox::DIID___Plavox, TKIND_DISPATCH, 0x1090},
        {L"PlavoxPlayStatus", &plavox::GUID_PlavoxPlayStatus, TKIND_ENUM, 0},
        {L"TrackDetail", &plavox::GUID_TrackDetail, TKIND_RECORD, 0},
    };
    ASSERT_EQ(std::size(types), lib_->GetTypeInfoCount());
    for (UINT i = 0; i < std::size(types); ++i) {
        SCOPED_TRACE(types[i].name);
        auto info = Type(i);
        TypeAttr attr(info.Get());
        EXPECT_EQ(*types[i].guid, attr->guid);
        EXPECT_EQ(types[i].kind, attr->typekind);
        EXPECT_EQ(1, attr->wMajorVerNum);
        EXPECT_EQ(0, attr->wMinorVerNum);
        EXPECT_EQ(types[i].name, NameOf(info.Get()));
        EXPECT_EQ(L"", DocOf(info.Get(), MEMBERID_NIL));

        const bool dual = attr->wTypeFlags & TYPEFLAG_FDUAL;
        auto view = dual ? InterfaceView(info.Get()) : info;
        TypeAttr flags(view.Get());
        EXPECT_EQ(types[i].flags, flags->wTypeFlags);
        if (dual) {
            EXPECT_EQ(TKIND_INTERFACE, flags->typekind);
        }
    }
}

TEST_P(TypeLibrary, ClassesImplementTheirInterfaces)
{
    auto plavox = Type(kPlavoxClass);
    TypeAttr attr(plavox.Get());
    ASSERT_EQ(2, attr->cImplTypes);
    EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    INT flags = 0;
    EXPECT_EQ(S_OK, plavox->GetImplTypeFlags(0, &flags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
    EXPECT_EQ(L"_Plavox", NameOf(ImplementedType(plavox.Get(), 0).Get()));
    EXPECT_EQ(S_OK, plavox->GetImplTypeFlags(1, &flags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, flags);
    EXPECT_EQ(L"__Plavox", NameOf(ImplementedType(plavox.Get(), 1).Get()));

    auto cls = Type(kClsClass);
    TypeAttr cls_attr(cls.Get());
    ASSERT_EQ(1, cls_attr->cImplTypes);
    EXPECT_FALSE(cls_attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(S_OK, cls->GetImplTypeFlags(0, &flags));
    EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
    EXPECT_EQ(L"_clsPlavox", NameOf(ImplementedType(cls.Get(), 0).Get()));
}

TEST_P(TypeLibrary, InterfacesDeriveFromStdoleIDispatch)
{
    for (UINT index : {kPlavoxIface, kClsIface, kEvents}) {
        auto info = Type(index);
        SCOPED_TRACE(NameOf(info.Get()));
        auto base = ImplementedType(index == kEvents ? info.Get() : InterfaceView(info.Get()).Get(), 0);
        TypeAttr attr(base.Get());
        EXPECT_EQ(IID_IDispatch, attr->guid);

        ComPtr<ITypeLib> home;
        UINT at = 0;
        ASSERT_EQ(S_OK, base->GetContainingTypeLib(&home, &at));
        TLIBATTR* lib = nullptr;
        ASSERT_EQ(S_OK, home->GetLibAttr(&lib));
        EXPECT_EQ(LIBID_stdole, lib->guid);
        EXPECT_EQ(2, lib->wMajorVerNum);
        home->ReleaseTLibAttr(lib);
    }
}

// One expected parameter: the type it points at (VT_EMPTY: not a pointer).
struct Param {
    VARTYPE vt;
    VARTYPE pointee;
    USHORT flags;
};

void ExpectParam(ITypeInfo* info, const ELEMDESC& actual, const Param& expected, const wchar_t* udt = nullptr)
{
    EXPECT_EQ(expected.flags, actual.paramdesc.wParamFlags);
    EXPECT_EQ(expected.vt, actual.tdesc.vt);
    if (expected.vt != VT_PTR) return;
    ASSERT_NE(nullptr, actual.tdesc.lptdesc);
    EXPECT_EQ(expected.pointee, actual.tdesc.lptdesc->vt);
    if (udt) {
        EXPECT_EQ(udt, NameOf(Referenced(info, actual.tdesc.lptdesc->hreftype).Get()));
    }
}

TEST_P(TypeLibrary, PlavoxMembers)
{
    struct Member {
        const wchar_t* name;
        MEMBERID id;
        INVOKEKIND kind;
        std::vector<Param> params;
        std::vector<std::wstring> names;  // the member's, then its named parameters'
    };
    const Param filename{VT_PTR, VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOUT};
    const std::vector<Member> members = {
        {L"PlayTrack", 0x60030005, INVOKE_FUNC, {}, {L"PlayTrack"}},
        {L"PauseTrack", 0x60030006, INVOKE_FUNC, {}, {L"PauseTrack"}},
        {L"StopTrack", 0x60030007, INVOKE_FUNC, {}, {L"StopTrack"}},
        {L"NextTrack", 0x60030008, INVOKE_FUNC, {}, {L"NextTrack"}},
        {L"PrevTrack", 0x60030009, INVOKE_FUNC, {}, {L"PrevTrack"}},
        {L"SkipFwd", 0x6003000A, INVOKE_FUNC, {}, {L"SkipFwd"}},
        {L"SkipBack", 0x6003000B, INVOKE_FUNC, {}, {L"SkipBack"}},
        {L"FadeAndStop", 0x6003000C, INVOKE_FUNC, {}, {L"FadeAndStop"}},
        {L"Shuffle", 0x6003000D, INVOKE_FUNC, {}, {L"Shuffle"}},
        {L"LaunchFile", 0x6003000E, INVOKE_FUNC, {filename}, {L"LaunchFile", L"filename"}},
        {L"Addfile", 0x6003000F, INVOKE_FUNC, {filename}, {L"Addfile", L"filename"}},
        {L"ClearPlaylist", 0x60030010, INVOKE_FUNC, {}, {L"ClearPlaylist"}},
        {L"KillPlavox", 0x60030011, INVOKE_FUNC, {}, {L"KillPlavox"}},
        {L"Enabled", 0x68030000, INVOKE_PROPERTYGET, {{VT_PTR, VT_BOOL, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}},
         {L"Enabled"}},
        {L"Enabled", 0x68030000, INVOKE_PROPERTYPUT, {{VT_BOOL, VT_EMPTY, PARAMFLAG_FIN}}, {L"Enabled"}},
    };

    auto view = InterfaceView(Type(kPlavoxIface).Get());
    TypeAttr attr(view.Get());
    ASSERT_EQ(members.size(), attr->cFuncs);
    EXPECT_EQ(0, attr->cVars);
    EXPECT_EQ((7 + members.size()) * sizeof(void*), attr->cbSizeVft);
    for (UINT i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        SCOPED_TRACE(m.name);
        FuncDesc desc(view.Get(), i);
        EXPECT_EQ(m.id, desc->memid);
        EXPECT_EQ(m.kind, desc->invkind);
        EXPECT_EQ(FUNC_PUREVIRTUAL, desc->funckind);
        EXPECT_EQ(CC_STDCALL, desc->callconv);
        EXPECT_EQ(0, desc->wFuncFlags);
        EXPECT_EQ(VT_HRESULT, desc->elemdescFunc.tdesc.vt);
        EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void*)), desc->oVft);
        ASSERT_EQ(static_cast<SHORT>(m.params.size()), desc->cParams);
        EXPECT_EQ(0, desc->cParamsOpt);
        for (size_t p = 0; p < m.params.size(); ++p) ExpectParam(view.Get(), desc->lprgelemdescParam[p], m.params[p]);

        // Property accessors share one name table entry per member id.
        if (m.kind != INVOKE_PROPERTYPUT) {
            EXPECT_EQ(m.names, NamesOf(view.Get(), m.id));
        }
    }
}

TEST_P(TypeLibrary, DispatchViewBindsNamesToDispids)
{
    auto dispatch = Type(kPlavoxIface);
    const std::pair<const wchar_t*, DISPID> names[] = {
        {L"PlayTrack", plavox::DISPID_PlayTrack}, {L"SkipBack", plavox::DISPID_SkipBack},
        {L"Addfile", plavox::DISPID_Addfile},     {L"KillPlavox", plavox::DISPID_KillPlavox},
        {L"Enabled", plavox::DISPID_Enabled},
    };
    for (const auto& [name, expected] : names) {
        LPOLESTR list[] = {const_cast<LPOLESTR>(name)};
        MEMBERID id = 0;
        EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(list, 1, &id)) << name;
        EXPECT_EQ(expected, id) << name;
    }
}

TEST_P(TypeLibrary, ClsPlavoxHasNoMembers)
{
    auto view = InterfaceView(Type(kClsIface).Get());
    TypeAttr attr(view.Get());
    EXPECT_EQ(0, attr->cFuncs);
    EXPECT_EQ(0, attr->cVars);
    EXPECT_EQ(7 * sizeof(void*), attr->cbSizeVft);
}

TEST_P(TypeLibrary, EventInterface)
{
    auto events = Type(kEvents);
    TypeAttr attr(events.Get());
    ASSERT_EQ(2, attr->cFuncs);
    EXPECT_EQ(0, attr->cVars);

    struct Event {
        MEMBERID id;
        Param param;
        const wchar_t* udt;
        std::vector<std::wstring> names;
    };
    const Event expected[] = {
        {plavox::DISPID_TrackChanged, {VT_PTR, VT_USERDEFINED, PARAMFLAG_FIN | PARAMFLAG_FOUT}, L"TrackDetail",
         {L"TrackChanged", L"detail"}},
        {plavox::DISPID_PlayPositionChanged, {VT_PTR, VT_I4, PARAMFLAG_FIN | PARAMFLAG_FOUT}, nullptr,
         {L"PlayPositionChanged", L"SecondsElapsed"}},
    };
    for (UINT i = 0; i < 2; ++i) {
        SCOPED_TRACE(expected[i].names[0]);
        FuncDesc desc(events.Get(), i);
        EXPECT_EQ(expected[i].id, desc->memid);
        EXPECT_EQ(FUNC_DISPATCH, desc->funckind);
        EXPECT_EQ(INVOKE_FUNC, desc->invkind);
        EXPECT_EQ(VT_VOID, desc->elemdescFunc.tdesc.vt);
        ASSERT_EQ(1, desc->cParams);
        ExpectParam(events.Get(), desc->lprgelemdescParam[0], expected[i].param, expected[i].udt);
        EXPECT_EQ(expected[i].names, NamesOf(events.Get(), expected[i].id));
    }
}

TEST_P(TypeLibrary, PlayStatusConstants)
{
    auto status = Type(kStatus);
    TypeAttr attr(status.Get());
    ASSERT_EQ(4, attr->cVars);
    EXPECT_EQ(4u, attr->cbSizeInstance);
    const std::pair<const wchar_t*, LONG> constants[] = {
        {L"Playing", 1}, {L"Paused", 2}, {L"Stopped", 0}, {L"Error", -1}};
    for (UINT i = 0; i < 4; ++i) {
        const auto& [name, value] = constants[i];
        SCOPED_TRACE(name);
        VarDesc desc(status.Get(), i);
        EXPECT_EQ(VAR_CONST, desc->varkind);
        EXPECT_EQ(VT_I4, desc->elemdescVar.tdesc.vt);
        ASSERT_NE(nullptr, desc->lpvarValue);
        EXPECT_EQ(VT_I4, V_VT(desc->lpvarValue));
        EXPECT_EQ(value, V_I4(desc->lpvarValue));
        EXPECT_EQ(name, NameOf(status.Get(), desc->memid));
        EXPECT_EQ(name, DocOf(status.Get(), desc->memid));
    }
}

TEST_P(TypeLibrary, TrackDetailLayout)
{
    auto detail = Type(kDetail);
    TypeAttr attr(detail.Get());
    EXPECT_EQ(sizeof(plavox::TrackDetail), attr->cbSizeInstance);
    EXPECT_EQ(4, attr->cbAlignment);
    ASSERT_EQ(8, attr->cVars);

    struct Field {
        const wchar_t* name;
        VARTYPE vt;
        ULONG offset;
    };
    const Field fields[] = {
        {L"Title", VT_BSTR, 0},  {L"Artist", VT_BSTR, 4},         {L"TrackNumber", VT_BSTR, 8},
        {L"Status", VT_USERDEFINED, 12}, {L"Freq", VT_BSTR, 16}, {L"Rate", VT_BSTR, 20},
        {L"Length", VT_I4, 24},  {L"CurrentPos", VT_BSTR, 28},
    };
    for (UINT i = 0; i < 8; ++i) {
        SCOPED_TRACE(fields[i].name);
        VarDesc desc(detail.Get(), i);
        EXPECT_EQ(VAR_PERINSTANCE, desc->varkind);
        EXPECT_EQ(fields[i].offset, desc->oInst);
        EXPECT_EQ(fields[i].vt, desc->elemdescVar.tdesc.vt);
        if (fields[i].vt == VT_USERDEFINED) {
            EXPECT_EQ(L"PlavoxPlayStatus",
                      NameOf(Referenced(detail.Get(), desc->elemdescVar.tdesc.hreftype).Get()));
        }
        EXPECT_EQ(fields[i].name, NameOf(detail.Get(), desc->memid));
        EXPECT_EQ(fields[i].name, DocOf(detail.Get(), desc->memid));
    }
}

// TrackChanged carries the record as VT_RECORD with this record information.
TEST_P(TypeLibrary, TrackDetailRecordInfo)
{
    ComPtr<IRecordInfo> record;
    ASSERT_EQ(S_OK, GetRecordInfoFromTypeInfo(Type(kDetail).Get(), &record));
    ULONG size = 0;
    EXPECT_EQ(S_OK, record->GetSize(&size));
    EXPECT_EQ(sizeof(plavox::TrackDetail), size);
    GUID guid{};
    EXPECT_EQ(S_OK, record->GetGuid(&guid));
    EXPECT_EQ(plavox::GUID_TrackDetail, guid);
    nj::unique_bstr name;
    EXPECT_EQ(S_OK, record->GetName(name.put()));
    EXPECT_STREQ(L"TrackDetail", name.get());
    ULONG fields = ~0u;
    EXPECT_EQ(S_OK, record->GetFieldNames(&fields, nullptr));
    EXPECT_EQ(8u, fields);

    // Copying and clearing a filled record goes by the field types. (Wine 8
    // copies no enumeration field: it sizes VT_USERDEFINED fields as 0, so
    // Status is not checked here.)
    plavox::TrackDetail source{};
    source.Title = SysAllocString(L"Some Song");
    source.Length = 215;
    plavox::TrackDetail copy{};
    EXPECT_EQ(S_OK, record->RecordCopy(&source, &copy));
    EXPECT_STREQ(L"Some Song", copy.Title);
    EXPECT_NE(source.Title, copy.Title);
    EXPECT_EQ(215, copy.Length);
    EXPECT_EQ(S_OK, record->RecordClear(&copy));
    EXPECT_EQ(nullptr, copy.Title);
    EXPECT_EQ(S_OK, record->RecordClear(&source));
}

INSTANTIATE_TEST_SUITE_P(FileAndResource, TypeLibrary,
                         testing::Values(L"Plavox.tlb", L"plavox_resource_probe.dll"),
                         [](const auto& info) { return info.index == 0 ? "File" : "EmbeddedInModule"; });

// What the reader hides: Wine's reader reports a dispatch-only interface's
// vtable size as IDispatch's and its base as IDispatch whatever the file
// says, so the mended fields are checked in the file itself.
TEST(TypeLibraryFile, MendedFields)
{
    namespace m = plavox::msft;
    const auto image = ReadBytes(nj::test::BesideTest(L"Plavox.tlb"));
    const auto record = m::TypeEntryOffset(image, kDetail);
    const auto events = m::TypeEntryOffset(image, kEvents);
    ASSERT_TRUE(record && events);
    EXPECT_EQ(TKIND_RECORD, m::ReadU32(image, *record + m::kTypeKind) & 0xF);
    EXPECT_EQ(32u, m::ReadU32(image, *record + m::kTypeSize));
    EXPECT_EQ(TKIND_DISPATCH, m::ReadU32(image, *events + m::kTypeKind) & 0xF);
    EXPECT_EQ(2 * 4, m::ReadU16(image, *events + m::kTypeVftSize));  // its own two functions
    EXPECT_EQ(1, m::ReadU16(image, *events + m::kTypeImplCount));
    EXPECT_EQ(0xFFFFFFFFu, m::ReadU32(image, *events + m::kTypeBase));
    EXPECT_EQ(0u, m::ReadU32(image, *events + m::kTypeBaseInfo));
    EXPECT_FALSE(m::TypeEntryOffset(image, kDetail + 1));
}

// The build step must give the same bytes every time, or every build would
// relink Plavox.ocx with a different library.
TEST(TypeLibraryFile, BuildStepIsReproducible)
{
    const std::wstring dir = nj::test::TempDirectory(L"mktlb");
    ASSERT_FALSE(dir.empty());
    const std::wstring tool = nj::test::BesideTest(L"mktlb.exe");
    for (const wchar_t* run : {L"a", L"b"}) {
        const std::wstring out = dir + L"\\" + run;
        ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_EQ(0u, nj::test::RunProcess(L"\"" + tool + L"\" \"" + out + L"\\Plavox.tlb\" \"" + out + L"\""));
    }
    for (const wchar_t* file : {L"Plavox.tlb", L"_iid_plavox.bin", L"_srciid_plavox.bin", L"_iid_clsplavox.bin"}) {
        SCOPED_TRACE(file);
        const auto built = ReadBytes(nj::test::BesideTest(file));
        ASSERT_FALSE(built.empty());
        EXPECT_EQ(built, ReadBytes(dir + L"\\a\\" + file));
        EXPECT_EQ(built, ReadBytes(dir + L"\\b\\" + file));
    }
    nj::test::RemoveTree(dir);
}

TEST(TypeLibraryFile, ToolRejectsBadUse)
{
    const std::wstring tool = L"\"" + nj::test::BesideTest(L"mktlb.exe") + L"\"";
    EXPECT_EQ(2u, nj::test::RunProcess(tool));
    // A folder that does not exist: the library cannot be written, and no
    // partial file may be left where the build would pick it up.
    EXPECT_EQ(1u, nj::test::RunProcess(tool + L" Z:\\no\\such\\folder\\Plavox.tlb"));
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    auto com = nj::CoInitializeApartment();
    return RUN_ALL_TESTS();
}
