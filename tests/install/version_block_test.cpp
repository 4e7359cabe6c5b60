// Nightjar.exe and Plavox.ocx carry the one project version: the same fixed
// numbers and the same text in both version blocks, each with its own names.
#include <gtest/gtest.h>

#include <nj_version.h>

#include <string>
#include <vector>

#include <windows.h>

namespace {

std::wstring g_nightjar;
std::wstring g_plavox;

struct VersionBlock {
    VS_FIXEDFILEINFO fixed{};
    std::vector<BYTE> data;

    std::wstring Text(const wchar_t* name) const
    {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(data.data(), path.c_str(), &value, &length) || value == nullptr) return L"(none)";
        return static_cast<const wchar_t*>(value);
    }
};

VersionBlock Read(const std::wstring& file)
{
    VersionBlock block;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return block;
    block.data.resize(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data.data())) return block;
    void* fixed = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(block.data.data(), L"\\", &fixed, &length) && length >= sizeof(VS_FIXEDFILEINFO))
        block.fixed = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return block;
}

std::wstring Wide(const char* text) { return std::wstring(text, text + std::char_traits<char>::length(text)); }

TEST(VersionBlocks, BothCarryTheProjectVersion)
{
    const VersionBlock nightjar = Read(g_nightjar);
    const VersionBlock plavox = Read(g_plavox);
    ASSERT_FALSE(nightjar.data.empty());
    ASSERT_FALSE(plavox.data.empty());

    const DWORD fixed[] = {NJ_VERSION_FIXED};
    for (const VersionBlock* block : {&nightjar, &plavox}) {
        EXPECT_EQ(block->fixed.dwFileVersionMS, MAKELONG(fixed[1], fixed[0]));
        EXPECT_EQ(block->fixed.dwFileVersionLS, MAKELONG(fixed[3], fixed[2]));
        EXPECT_EQ(block->fixed.dwProductVersionMS, block->fixed.dwFileVersionMS);
        EXPECT_EQ(block->fixed.dwProductVersionLS, block->fixed.dwFileVersionLS);
        EXPECT_EQ(block->Text(L"FileVersion"), Wide(NJ_VERSION_TEXT));
        EXPECT_EQ(block->Text(L"ProductVersion"), Wide(NJ_VERSION_TEXT));
    }
    EXPECT_EQ(nightjar.fixed.dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(nightjar.Text(L"ProductName"), L"Nightjar");
    EXPECT_EQ(nightjar.Text(L"OriginalFilename"), L"Nightjar.exe");
    EXPECT_NE(nightjar.Text(L"FileDescription"), L"(none)");
    EXPECT_EQ(plavox.Text(L"ProductName"), L"Quillon");
    EXPECT_EQ(plavox.Text(L"OriginalFilename"), L"Plavox.ocx");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 3) {
        std::fputs("usage: version_block_test NIGHTJAR.EXE PLAVOX.OCX\n", stderr);
        return 2;
    }
    g_nightjar = argv[1];
    g_plavox = argv[2];
    return RUN_ALL_TESTS();
}
