// The dispatch identifiers of Plavox's members and events. Hosts bind by
// these numbers, never by name, so they are fixed for good. Free of
// <windows.h>: platform-free host code checks its own tables against them.
#pragma once

#include <cstdint>

namespace plavox {

// Members of _Plavox.
enum PlavoxDispid : std::int32_t {
    DISPID_PlayTrack = 0x60030005,
    DISPID_PauseTrack = 0x60030006,
    DISPID_StopTrack = 0x60030007,
    DISPID_NextTrack = 0x60030008,
    DISPID_PrevTrack = 0x60030009,
    DISPID_SkipFwd = 0x6003000A,
    DISPID_SkipBack = 0x6003000B,
    DISPID_FadeAndStop = 0x6003000C,
    DISPID_Shuffle = 0x6003000D,
    DISPID_LaunchFile = 0x6003000E,
    DISPID_Addfile = 0x6003000F,
    DISPID_ClearPlaylist = 0x60030010,
    DISPID_KillPlavox = 0x60030011,
    DISPID_Enabled = 0x68030000,
};

// Events of __Plavox.
enum PlavoxEventDispid : std::int32_t {
    DISPID_TrackChanged = 1,
    DISPID_PlayPositionChanged = 2,
};

}  // namespace plavox
