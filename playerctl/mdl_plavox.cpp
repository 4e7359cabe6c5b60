#include "mdl_plavox.h"

#include <shellapi.h>

#include <iterator>
#include <map>

#include "nj/module.h"
#include "nj/result.h"
#include "nj/text.h"

namespace plavox {
namespace {

// Live per-thread blocks by thread. An entry lasts as long as some object
// on its thread holds the block.
SRWLOCK g_statesLock = SRWLOCK_INIT;
std::map<DWORD, std::weak_ptr<ModuleState>> g_states;

// Every holder changes the map or may, so no holder shares the lock.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK& lock_;
};

struct PlayerMessage {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

// The player's own command numbers (WM_COMMAND wParam), by PlayerCommand.
constexpr PlayerMessage kCommandMessages[] = {
    {WM_COMMAND, player::kPlay, 0},
    {WM_COMMAND, player::kPause, 0},
    {WM_COMMAND, player::kStop, 0},
    {WM_COMMAND, player::kNext, 0},
    {WM_COMMAND, player::kPrevious, 0},
    {WM_COMMAND, player::kSkipForward, 0},
    {WM_COMMAND, player::kSkipBack, 0},
    {WM_COMMAND, player::kFadeAndStop, 0},
    {WM_COMMAND, player::kShuffle, 0},
    {player::kUserMessage, 0, player::kClearPlaylist},
    {WM_CLOSE, 0, 0},
};
static_assert(std::size(kCommandMessages) == static_cast<size_t>(PlayerCommand::Close) + 1);

HRESULT LoadInterfaceViews(ITypeLib& library, const IID& iid, ComPtr<ITypeInfo>& dispatchView,
                           ComPtr<ITypeInfo>& vtableView) noexcept
{
    RETURN_IF_FAILED(library.GetTypeInfoOfGuid(iid, &dispatchView));
    TYPEATTR* attr = nullptr;
    RETURN_IF_FAILED(dispatchView->GetTypeAttr(&attr));
    const TYPEKIND kind = attr->typekind;
    dispatchView->ReleaseTypeAttr(attr);
    if (kind == TKIND_INTERFACE) {
        vtableView = dispatchView;
        return S_OK;
    }
    // A dual interface reads as a dispinterface; its function table is the
    // interface that the dispinterface's -1 implemented type refers to.
    HREFTYPE vtable = 0;
    RETURN_IF_FAILED(dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable));
    return dispatchView->GetRefTypeInfo(vtable, &vtableView);
}

}  // namespace

HRESULT TypeInfos::Load(HMODULE module)
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    RETURN_HR_IF(E_FAIL, length == 0);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), length == MAX_PATH);
    RETURN_IF_FAILED(::LoadTypeLibEx(path, REGKIND_NONE, &library));
    RETURN_IF_FAILED(LoadInterfaceViews(*library.Get(), IID__Plavox, plavox, plavoxVtable));
    RETURN_IF_FAILED(LoadInterfaceViews(*library.Get(), IID__clsPlavox, clsPlavox, clsPlavoxVtable));
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(CLSID_Plavox, &plavoxClass));
    ComPtr<ITypeInfo> record;
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(GUID_TrackDetail, &record));
    return ::GetRecordInfoFromTypeInfo(record.Get(), &trackDetail);
}

ModuleState::ModuleState() noexcept : shellExecute(::ShellExecuteA) {}

ModuleState::~ModuleState()
{
    for (BSTR* field : {&CurrentDetail.Title, &CurrentDetail.Artist, &CurrentDetail.TrackNumber, &CurrentDetail.Freq,
                        &CurrentDetail.Rate, &CurrentDetail.CurrentPos}) {
        ::SysFreeString(*field);
    }
}

HRESULT ModuleState::ForThisThread(std::shared_ptr<ModuleState>& state) noexcept
{
    try {
        const DWORD thread = ::GetCurrentThreadId();
        {
            ExclusiveLock lock(g_statesLock);
            if (auto found = g_states.find(thread); found != g_states.end()) {
                state = found->second.lock();
                if (state) return S_OK;
            }
        }
        // Built outside the lock: loading the type library may take a while.
        auto fresh = std::shared_ptr<ModuleState>(new ModuleState, [thread](ModuleState* gone) {
            {
                ExclusiveLock lock(g_statesLock);
                auto entry = g_states.find(thread);
                if (entry != g_states.end() && entry->second.expired()) g_states.erase(entry);
            }
            delete gone;
        });
        RETURN_IF_FAILED(fresh->types.Load(nj::CurrentModule()));
        ExclusiveLock lock(g_statesLock);
        g_states[thread] = fresh;
        state = std::move(fresh);
        return S_OK;
    }
    NJ_CATCH_RETURN()
}

HRESULT SendPlayerCommand(ModuleState& state, PlayerCommand command) noexcept
{
    const auto index = static_cast<size_t>(command);
    RETURN_HR_IF(E_INVALIDARG, index >= std::size(kCommandMessages));
    const PlayerMessage& sent = kCommandMessages[index];
    if (HWND player = FindPlayer(state)) ::SendMessageA(player, sent.message, sent.wparam, sent.lparam);
    return S_OK;
}

HRESULT HandFileToShell(ModuleState& state, HWND owner, ShellVerb verb, BSTR* filename) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, filename);
    RETURN_HR_IF_NULL(E_UNEXPECTED, owner);
    try {
        const std::string ansi = nj::text::ToAnsi({*filename, ::SysStringLen(*filename)});
        state.shellExecute(owner, verb == ShellVerb::Play ? "play" : "enqueue", ansi.c_str(), "", "", SW_HIDE);
        const std::wstring back = nj::text::FromAnsi(ansi);
        return AssignBstr(*filename, back);
    }
    NJ_CATCH_RETURN()
}

HWND FindPlayer(ModuleState& state) noexcept
{
    state.PlayerWindow = ::FindWindowA(kPlayerClass, nullptr);
    return state.PlayerWindow;
}

LONG QueryPlayer(HWND player, WPARAM variant, LPARAM query) noexcept
{
    return static_cast<LONG>(::SendMessageA(player, kPlayerQuery, variant, query));
}

std::wstring ReadPlayerTitle(HWND player)
{
    // Room for the 254 characters the call copies at most, and its terminator.
    char buffer[256] = {};
    const int copied = ::GetWindowTextA(player, buffer, 255);
    if (copied <= 0) return {};
    return nj::text::FromAnsi({buffer, static_cast<size_t>(copied < 254 ? copied : 254)});
}

HRESULT AssignBstr(BSTR& field, const wchar_t* text, size_t length) noexcept
{
    BSTR fresh = ::SysAllocStringLen(text, static_cast<UINT>(length));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, fresh);
    ::SysFreeString(field);
    field = fresh;
    return S_OK;
}

}  // namespace plavox
