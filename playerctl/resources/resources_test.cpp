// Loads a module that carries Plavox.ocx's resources and checks what hosts
// and installers read from them: the identifier resources, the toolbox
// picture, the version block and the embedded type library.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "nj/unique.h"
#include "plavox/plavox.h"
#include "test_paths.h"

namespace {

constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
constexpr WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

class Resources : public testing::Test {
protected:
    void SetUp() override
    {
        path_ = nj::test::BesideTest(L"plavox_resource_probe.dll");
        module_.reset(LoadLibraryW(path_.c_str()));
        ASSERT_TRUE(module_) << "cannot load the resource probe";
    }

    // The bytes of one resource in exactly the given language, or nothing.
    std::vector<uint8_t> Bytes(const wchar_t* type, const wchar_t* name, WORD language)
    {
        HRSRC found = FindResourceExW(module_.get(), type, name, language);
        if (!found) return {};
        const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module_.get(), found)));
        if (!data) return {};
        return {data, data + SizeofResource(module_.get(), found)};
    }

    std::wstring path_;
    nj::unique_hmodule module_;
};

TEST_F(Resources, IdentifiersAreLengthPrefixedGuids)
{
    const std::pair<const wchar_t*, const GUID*> identifiers[] = {
        {L"_IID_PLAVOX", &plavox::IID__Plavox},
        {L"_SRCIID_PLAVOX", &plavox::DIID___Plavox},
        {L"_IID_CLSPLAVOX", &plavox::IID__clsPlavox},
    };
    for (const auto& [type, iid] : identifiers) {
        SCOPED_TRACE(type);
        const auto bytes = Bytes(type, MAKEINTRESOURCEW(1), kNeutral);
        ASSERT_EQ(20u, bytes.size());
        EXPECT_EQ((std::vector<uint8_t>{0x10, 0, 0, 0}), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4));
        GUID stored;
        memcpy(&stored, bytes.data() + 4, sizeof(stored));
        EXPECT_EQ(*iid, stored);
    }
    // The spelled-out byte order of one of them, independent of the GUID struct.
    const auto source = Bytes(L"_SRCIID_PLAVOX", MAKEINTRESOURCEW(1), kNeutral);
    const std::vector<uint8_t> expected = {0x10, 0x00, 0x00, 0x00, 0x06, 0x3F, 0xD3, 0xFA, 0xFE, 0xC9,
                                           0xD3, 0x11, 0xA0, 0x57, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40};
    EXPECT_EQ(expected, source);
}

TEST_F(Resources, ToolboxPictureIsA16By15TrueColourBitmap)
{
    const auto bytes = Bytes(RT_BITMAP, MAKEINTRESOURCEW(plavox::kToolboxBitmapId), kNeutral);
    ASSERT_EQ(760u, bytes.size());
    BITMAPINFOHEADER header;
    memcpy(&header, bytes.data(), sizeof(header));
    EXPECT_EQ(sizeof(BITMAPINFOHEADER), header.biSize);
    EXPECT_EQ(16, header.biWidth);
    EXPECT_EQ(15, header.biHeight);
    EXPECT_EQ(1, header.biPlanes);
    EXPECT_EQ(24, header.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
    EXPECT_EQ(0u, header.biClrUsed);

    // Hosts load it as a picture for their toolbox.
    nj::unique_hbitmap picture(LoadBitmapW(module_.get(), MAKEINTRESOURCEW(plavox::kToolboxBitmapId)));
    ASSERT_TRUE(picture);
    BITMAP info{};
    ASSERT_NE(0, GetObjectW(picture.get(), sizeof(info), &info));
    EXPECT_EQ(16, info.bmWidth);
    EXPECT_EQ(15, info.bmHeight);
}

TEST_F(Resources, VersionBlock)
{
    EXPECT_FALSE(Bytes(RT_VERSION, MAKEINTRESOURCEW(1), kUsEnglish).empty());

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(VS_FFI_SIGNATURE, fixed->dwSignature);
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS);
    EXPECT_EQ(0u, fixed->dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileSubtype);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(0x04B0, translation[1]);

    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"FileDescription", L"A simple control to allow interaction with Plavox"},
        {L"FileVersion", L"1.00.0001"},
        {L"ProductVersion", L"1.00.0001"},
        {L"ProductName", L"Quillon"},
        {L"InternalName", L"Plavox"},
        {L"OriginalFilename", L"Plavox.ocx"},
        {L"OLESelfRegister", L""},
    };
    for (const auto& [key, expected] : strings) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        wchar_t* value = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << key;
        EXPECT_EQ(std::wstring(expected), std::wstring(value, wcsnlen(value, length))) << key;
    }
    for (const wchar_t* key : {L"Comments", L"CompanyName", L"LegalCopyright"}) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        wchar_t* value = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << key;
        EXPECT_GT(length, 1u) << key;
    }
}

TEST_F(Resources, TypeLibraryLoadsFromTheModulePath)
{
    EXPECT_FALSE(Bytes(L"TYPELIB", MAKEINTRESOURCEW(1), kNeutral).empty());
    Microsoft::WRL::ComPtr<ITypeLib> lib;
    ASSERT_EQ(S_OK, LoadTypeLibEx(path_.c_str(), REGKIND_NONE, &lib));
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, lib->GetLibAttr(&attr));
    EXPECT_EQ(plavox::LIBID_Quillon, attr->guid);
    lib->ReleaseTLibAttr(attr);
    // The embedded library is the built file, byte for byte.
    std::ifstream file(nj::test::BesideTest(L"Plavox.tlb").c_str(), std::ios::binary);
    const std::vector<uint8_t> built{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_EQ(built, Bytes(L"TYPELIB", MAKEINTRESOURCEW(1), kNeutral));
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    auto com = nj::CoInitializeApartment();
    return RUN_ALL_TESTS();
}
