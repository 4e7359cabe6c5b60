// The library's entry points: in-process server exports and DllMain.
#include <windows.h>

#include "class_objects.h"
#include "mdl_plavox.h"
#include "nj/com_object.h"
#include "registration.h"

namespace {
HMODULE g_module = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return nj::com::module_can_unload() ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return plavox::GetClassObject(clsid, riid, ppv);
}

STDAPI DllRegisterServer()
{
    return plavox::RegisterServer(g_module);
}

STDAPI DllUnregisterServer()
{
    return plavox::UnregisterServer();
}

STDAPI DllInstall(BOOL install, PCWSTR command_line)
{
    return plavox::Install(g_module, install != FALSE, command_line);
}
