#include "program_file.h"

#include <tilp2/tifiles.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "machine.h"

namespace z80calc {
namespace {

constexpr std::uint8_t kProgramType = 0x05;
constexpr std::uint8_t kProtectedProgramType = 0x06;
constexpr std::uint8_t kAsmToken[] = {0xBB, 0x6D};

struct Library {
    Library() { tifiles_library_init(); }
    ~Library() { tifiles_library_exit(); }
};

struct ContentDeleter {
    void operator()(FileContent* content) const { tifiles_content_delete_regular(content); }
};

bool IsTi83PlusFamily(CalcModel model)
{
    return model == CALC_TI83P || model == CALC_TI84P;
}

Program ProgramOf(const VarEntry& entry, const std::string& path)
{
    if (entry.type != kProgramType && entry.type != kProtectedProgramType)
        throw ProgramError(path + ": its variable is of type " + Hex(entry.type, 2) + ", not a program (05h)");
    const std::uint8_t* data = entry.data;
    if (entry.size < 4 || data == nullptr) throw ProgramError(path + ": the program is empty");
    const unsigned length = data[0] | data[1] << 8;
    if (length != entry.size - 2)
        throw ProgramError(path + ": the program says it is " + std::to_string(length) + " bytes long, its variable " +
                           std::to_string(entry.size - 2));
    if (data[2] != kAsmToken[0] || data[3] != kAsmToken[1])
        throw ProgramError(path + ": not an assembly program (it does not begin with BB 6D)");
    Program program{entry.name, std::vector<std::uint8_t>(data + 4, data + entry.size)};
    if (kProgramStart + program.code.size() > kNoExecStart)
        throw ProgramError(path + ": " + std::to_string(program.code.size()) +
                           " bytes of code reach past C000h, where the TI-83 Plus runs no code");
    return program;
}

}  // namespace

Program ReadProgramFile(const std::string& path)
{
    static Library library;
    if (access(path.c_str(), R_OK) != 0) throw ProgramError(path + ": " + std::strerror(errno));
    // libtifiles2 reads by the name's extension, and frees the content on
    // every failure of the TI-83 Plus reader, but not before it.
    if (!IsTi83PlusFamily(tifiles_file_get_model(path.c_str())))
        throw ProgramError(path + ": not a TI-83 Plus family file (.8xp)");
    if (!tifiles_file_is_ti(path.c_str()) || !tifiles_file_is_regular(path.c_str()))
        throw ProgramError(path + ": not a calculator variable file");
    std::unique_ptr<FileContent, ContentDeleter> content(tifiles_content_create_regular(CALC_TI83P));
    if (!content) throw ProgramError("libtifiles2 could not make room for a file");
    if (const int err = tifiles_file_read_regular(path.c_str(), content.get()); err != 0) {
        content.release();  // freed by the reader
        char* message = nullptr;
        tifiles_error_get(err, &message);
        const std::string text = message ? message : "error " + std::to_string(err);
        if (message) tifiles_error_free(message);
        throw ProgramError(path + ": " + text);
    }
    if (content->checksum != content->stored_checksum)
        throw ProgramError(path + ": its checksum does not match its contents: the file is damaged");
    if (!IsTi83PlusFamily(content->model)) throw ProgramError(path + ": not a TI-83 Plus family file");
    if (content->num_entries != 1 || content->entries == nullptr || content->entries[0] == nullptr)
        throw ProgramError(path + ": holds " + std::to_string(content->num_entries) + " variables, not one program");
    return ProgramOf(*content->entries[0], path);
}

}  // namespace z80calc
