// The module this code is linked into: the EXE, or the DLL that carries it.
// GetModuleHandle(nullptr) would name the EXE even from inside a DLL, whose
// resources, type library and window classes are its own.
#pragma once

#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace nj {

inline HINSTANCE CurrentModule() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

}  // namespace nj
