// mdlPlavox: the state the controls of one thread share, the type
// information they work from, and the calls that reach the media player.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <memory>
#include <string>

#include "plavox/plavox.h"
#include "plavox/player_window.h"

namespace plavox {

using Microsoft::WRL::ComPtr;

inline constexpr const char* kPlayerClass = player::kWindowClass;

// Queries of the player: WM_USER with lParam selecting the query and
// wParam its variant.
inline constexpr UINT kPlayerQuery = player::kUserMessage;
static_assert(kPlayerQuery == WM_USER);
inline constexpr LPARAM kQueryPlayState = player::kPlayState;
inline constexpr LPARAM kQueryPosition = player::kPositionOrLength;
inline constexpr LPARAM kQueryAudioInfo = player::kTrackFormat;

// The shell call of LaunchFile and Addfile. Tests hand the module state
// another one to see what the shell would have been given.
using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

// Everything the objects of this library read from its embedded type library.
struct TypeInfos {
    ComPtr<ITypeLib> library;
    ComPtr<ITypeInfo> plavox;          // _Plavox as hosts read it (its dispatch view)
    ComPtr<ITypeInfo> plavoxVtable;    // _Plavox's function table, which Invoke calls through
    ComPtr<ITypeInfo> clsPlavox;
    ComPtr<ITypeInfo> clsPlavoxVtable;
    ComPtr<ITypeInfo> plavoxClass;     // the coclass, for IProvideClassInfo
    ComPtr<IRecordInfo> trackDetail;

    HRESULT Load(HMODULE module);
};

// The module-level data, once per thread. It comes into being with the
// first object on a thread and goes with the last one; every object on the
// thread holds it.
class ModuleState {
public:
    ModuleState() noexcept;
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;
    ~ModuleState();

    static HRESULT ForThisThread(std::shared_ptr<ModuleState>& state) noexcept;

    HWND PlayerWindow = nullptr;
    std::wstring LastTitle;
    TrackDetail CurrentDetail{};
    TypeInfos types;
    ShellExecuteFn shellExecute;
};

// What the player is told to do by its own command numbers.
enum class PlayerCommand {
    Play,
    Pause,
    Stop,
    Next,
    Previous,
    SkipForward,
    SkipBack,
    FadeAndStop,
    Shuffle,
    ClearPlaylist,
    Close,
};

// Sends the command to the player found now; without a player it does
// nothing and still succeeds.
HRESULT SendPlayerCommand(ModuleState& state, PlayerCommand command) noexcept;

enum class ShellVerb { Play, Enqueue };

// Hands the file to the shell with the player's verb, owned by the given
// window. The name goes through the ANSI code page, and the caller's string
// is given back as that round trip left it. What the shell answers is not
// looked at.
HRESULT HandFileToShell(ModuleState& state, HWND owner, ShellVerb verb, BSTR* filename) noexcept;

// Looks the player's main window up by class and stores the result in
// PlayerWindow, found or not.
HWND FindPlayer(ModuleState& state) noexcept;

// One WM_USER query; a window that is gone answers 0.
LONG QueryPlayer(HWND player, WPARAM variant, LPARAM query) noexcept;

// The window's title as ANSI text converted to wide text, at most 254
// characters; "" when nothing can be read.
std::wstring ReadPlayerTitle(HWND player);

// Replaces a BSTR field of the record; the old string is freed.
HRESULT AssignBstr(BSTR& field, const wchar_t* text, size_t length) noexcept;
inline HRESULT AssignBstr(BSTR& field, const std::wstring& text) noexcept
{
    return AssignBstr(field, text.c_str(), text.size());
}

}  // namespace plavox
