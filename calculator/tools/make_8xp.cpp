// make_8xp: writes the assembled calculator program into a TI-83 Plus program
// variable file through libtifiles2, then reads the file back the way TiLP
// and the z80calc harness will and checks that the same code comes out.
//
//   make_8xp CODE.bin NAME OUT.8xp
//
// CODE.bin is the code as assembled for 9D95h; the variable's data is its
// length word, the two tokens that mark an assembly program (BB 6D), and the
// code. Prints the sizes; exit status 0 done, 1 failed, 2 bad command line.
#include <tifiles.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kProgramType = TI83p_PRGM;
constexpr std::uint8_t kAsmToken[] = {0xBB, 0x6D};
constexpr std::size_t kMaxName = 8;
// The OS runs at most this much code in place at 9D95h (to C000h).
constexpr std::size_t kMaxCode = 0xC000 - 0x9D95;

// libtifiles2 initialised for as long as the tool runs.
struct Library {
    Library() { tifiles_library_init(); }
    ~Library() { tifiles_library_exit(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

struct ContentDeleter {
    void operator()(FileContent* content) const { tifiles_content_delete_regular(content); }
};
using Content = std::unique_ptr<FileContent, ContentDeleter>;

Content NewContent()
{
    Content content(tifiles_content_create_regular(CALC_TI83P));
    if (!content)
        throw std::runtime_error("libtifiles2 could not create a file content");
    return content;
}

Bytes ReadCode(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    Bytes code{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (code.empty() || code.size() > kMaxCode)
        throw std::runtime_error(path + ": " + std::to_string(code.size()) + " bytes of code, not 1 to " +
                                 std::to_string(kMaxCode));
    return code;
}

// The variable's data as the calculator stores it.
Bytes ProgramData(const Bytes& code)
{
    const std::size_t body = sizeof kAsmToken + code.size();
    Bytes data{static_cast<std::uint8_t>(body & 0xFF), static_cast<std::uint8_t>(body >> 8)};
    data.insert(data.end(), std::begin(kAsmToken), std::end(kAsmToken));
    data.insert(data.end(), code.begin(), code.end());
    return data;
}

void Write(const std::string& path, const std::string& name, const Bytes& data)
{
    Content content = NewContent();
    VarEntry* entry = tifiles_ve_create_alloc_data(static_cast<std::uint32_t>(data.size()));
    if (!entry)
        throw std::runtime_error("libtifiles2 could not create a variable entry");
    std::snprintf(entry->name, sizeof entry->name, "%s", name.c_str());
    entry->type = kProgramType;
    entry->size = static_cast<std::uint32_t>(data.size());
    std::memcpy(entry->data, data.data(), data.size());
    tifiles_content_add_entry(content.get(), entry);  // the content owns it now
    if (tifiles_file_write_regular(path.c_str(), content.get(), nullptr) != 0)
        throw std::runtime_error("libtifiles2 could not write " + path);
}

void CheckReadsBack(const std::string& path, const std::string& name, const Bytes& data)
{
    Content content = NewContent();
    if (tifiles_file_read_regular(path.c_str(), content.get()) != 0)
        throw std::runtime_error("libtifiles2 cannot read back " + path);
    if (content->num_entries != 1)
        throw std::runtime_error(path + " reads back with " + std::to_string(content->num_entries) + " variables");
    const VarEntry& entry = *content->entries[0];
    if (entry.type != kProgramType || name != entry.name)
        throw std::runtime_error(path + " reads back as another variable: " + entry.name);
    if (entry.size != data.size() || std::memcmp(entry.data, data.data(), data.size()) != 0)
        throw std::runtime_error(path + " reads back with other data");
}

int Run(int argc, char** argv)
{
    if (argc != 4 || std::strlen(argv[2]) == 0 || std::strlen(argv[2]) > kMaxName) {
        std::fprintf(stderr, "usage: make_8xp CODE.bin NAME OUT.8xp   (NAME: 1 to %zu characters)\n", kMaxName);
        return 2;
    }
    const std::string code_path = argv[1], name = argv[2], out_path = argv[3];
    const Library library;
    const Bytes code = ReadCode(code_path);
    const Bytes data = ProgramData(code);
    Write(out_path, name, data);
    CheckReadsBack(out_path, name, data);
    std::printf("%s: prgm%s, %zu bytes of code (%zu in the variable)\n", out_path.c_str(), name.c_str(), code.size(),
                data.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_8xp: %s\n", e.what());
        return 1;
    }
}
