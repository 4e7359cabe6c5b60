// Plavox's published identity: identifiers, dispatch identifiers, the
// interfaces' vtable layouts, the track record and the play-state enumeration.
// The type library, the control and its hosts all build from this one header;
// it is all of the control a host may see.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>

#include "plavox/dispids.h"

namespace plavox {

// {58938D1B-A1F5-11D3-A056-0048543B0240}
inline constexpr GUID LIBID_Quillon = {0x58938D1B, 0xA1F5, 0x11D3, {0xA0, 0x56, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40}};
inline constexpr GUID CLSID_Plavox = {0x58938D21, 0xA1F5, 0x11D3, {0xA0, 0x56, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40}};
inline constexpr GUID CLSID_clsPlavox = {0x58938D1D, 0xA1F5, 0x11D3, {0xA0, 0x56, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40}};
inline constexpr GUID IID__Plavox = {0xFAD33F05, 0xC9FE, 0x11D3, {0xA0, 0x57, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40}};
inline constexpr GUID DIID___Plavox = {0xFAD33F06, 0xC9FE, 0x11D3, {0xA0, 0x57, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40}};
inline constexpr GUID IID__clsPlavox = {0xFAD33F02, 0xC9FE, 0x11D3, {0xA0, 0x57, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40}};
inline constexpr GUID GUID_PlavoxPlayStatus = {0xFAD33F03, 0xC9FE, 0x11D3, {0xA0, 0x57, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40}};
inline constexpr GUID GUID_TrackDetail = {0xFAD33F04, 0xC9FE, 0x11D3, {0xA0, 0x57, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40}};

static_assert(sizeof(DISPID) == sizeof(PlavoxDispid), "the dispatch identifiers are DISPIDs");

// What the registration tells hosts about the control.
inline constexpr wchar_t kProgId[] = L"Quillon.Plavox";
inline constexpr wchar_t kFileName[] = L"Plavox.ocx";
inline constexpr WORD kLibMajor = 10;
inline constexpr WORD kLibMinor = 0;
inline constexpr DWORD kControlMiscStatus = 0x24591;
inline constexpr int kToolboxBitmapId = 30000;

enum PlavoxPlayStatus : LONG {
    Playing = 1,
    Paused = 2,
    Stopped = 0,
    Error = -1,
};

// Field order, widths and offsets are part of the published record.
struct TrackDetail {
    BSTR Title;
    BSTR Artist;
    BSTR TrackNumber;
    PlavoxPlayStatus Status;
    BSTR Freq;
    BSTR Rate;
    LONG Length;
    BSTR CurrentPos;
};
static_assert(sizeof(TrackDetail) == 32, "TrackDetail is a 32-byte record");
static_assert(offsetof(TrackDetail, Length) == 24, "TrackDetail.Length sits at offset 24");

}  // namespace plavox

// The dual interface's vtable, in slot order after IDispatch's.
struct _Plavox : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE PlayTrack() = 0;
    virtual HRESULT STDMETHODCALLTYPE PauseTrack() = 0;
    virtual HRESULT STDMETHODCALLTYPE StopTrack() = 0;
    virtual HRESULT STDMETHODCALLTYPE NextTrack() = 0;
    virtual HRESULT STDMETHODCALLTYPE PrevTrack() = 0;
    virtual HRESULT STDMETHODCALLTYPE SkipFwd() = 0;
    virtual HRESULT STDMETHODCALLTYPE SkipBack() = 0;
    virtual HRESULT STDMETHODCALLTYPE FadeAndStop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Shuffle() = 0;
    virtual HRESULT STDMETHODCALLTYPE LaunchFile(BSTR* filename) = 0;
    virtual HRESULT STDMETHODCALLTYPE Addfile(BSTR* filename) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearPlaylist() = 0;
    virtual HRESULT STDMETHODCALLTYPE KillPlavox() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL NewState) = 0;
};
__CRT_UUID_DECL(_Plavox, 0xFAD33F05, 0xC9FE, 0x11D3, 0xA0, 0x57, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40)

// The member-less default interface of clsPlavox.
struct _clsPlavox : public IDispatch {};
__CRT_UUID_DECL(_clsPlavox, 0xFAD33F02, 0xC9FE, 0x11D3, 0xA0, 0x57, 0x00, 0x48, 0x54, 0x3B, 0x02, 0x40)
