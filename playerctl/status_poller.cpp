#include "status_poller.h"

#include "title_parser.h"

namespace plavox {
namespace {

constexpr LONG kAnswerPlaying = 1;
constexpr LONG kAnswerPaused = 3;

// Keeps a tick from running inside another: a sink that pumps messages
// from its handler would otherwise start the next tick within this one.
class TickGuard {
public:
    explicit TickGuard(bool& flag) noexcept : flag_(flag), entered_(!flag) { flag_ = true; }
    TickGuard(const TickGuard&) = delete;
    TickGuard& operator=(const TickGuard&) = delete;
    ~TickGuard()
    {
        if (entered_) flag_ = false;
    }
    bool Entered() const noexcept { return entered_; }

private:
    bool& flag_;
    bool entered_;
};

}  // namespace

void StatusPoller::Tick() noexcept
{
    TickGuard guard(ticking_);
    if (!guard.Entered()) return;
    try {
        CheckTrackTitle();
        // Two answers: the first counts for playing, the second for paused.
        const PlavoxPlayStatus first = ReadPlayStatus();
        const PlavoxPlayStatus second = ReadPlayStatus();
        if (first != Playing && second != Paused) return;

        const LONG ms = QueryPlayer(state_.PlayerWindow, 0, kQueryPosition);
        if (FAILED(AssignBstr(state_.CurrentDetail.CurrentPos, DecimalText(ms)))) return;
        events_.RaisePlayPositionChanged(SecondsFromMilliseconds(ms));
    } catch (...) {
        // Out of memory: this tick is lost, the next one starts afresh.
    }
}

PlavoxPlayStatus StatusPoller::ReadPlayStatus() noexcept
{
    HWND player = FindPlayer(state_);
    if (!player) return Stopped;
    switch (QueryPlayer(player, 0, kQueryPlayState)) {
    case kAnswerPlaying:
        return Playing;
    case kAnswerPaused:
        return Paused;
    default:
        return Stopped;
    }
}

void StatusPoller::CheckTrackTitle()
{
    HWND player = FindPlayer(state_);
    if (!player) {
        RaiseEmptiedRecord();
        return;
    }
    const std::wstring title = ReadPlayerTitle(player);
    if (!TitleWantsParse(title, state_.LastTitle)) return;
    ParseTrackTitle(title);
}

// Without a player the record is emptied and raised at every tick, with a
// position of 0.
void StatusPoller::RaiseEmptiedRecord()
{
    TrackDetail& detail = state_.CurrentDetail;
    AssignBstr(detail.Artist, L"", 0);
    AssignBstr(detail.CurrentPos, L"0", 1);
    AssignBstr(detail.Freq, L"", 0);
    detail.Length = 0;
    AssignBstr(detail.Rate, L"", 0);
    detail.Status = Error;
    AssignBstr(detail.Title, L"", 0);
    AssignBstr(detail.TrackNumber, L"", 0);
    events_.RaiseTrackChanged(detail);
    events_.RaisePlayPositionChanged(0);
}

void StatusPoller::ParseTrackTitle(const std::wstring& title)
{
    TrackDetail& detail = state_.CurrentDetail;
    state_.LastTitle = title;

    const TitleParts parts = SplitTrackTitle(title);
    if (parts.hasTrackNumber) AssignBstr(detail.TrackNumber, parts.trackNumber);
    if (parts.isFileName) return;
    AssignBstr(detail.Artist, parts.artist);
    AssignBstr(detail.Title, parts.title);

    HWND player = state_.PlayerWindow;
    AssignBstr(detail.Rate, DecimalText(QueryPlayer(player, 1, kQueryAudioInfo)));
    AssignBstr(detail.Freq, DecimalText(QueryPlayer(player, 0, kQueryAudioInfo)));
    detail.Length = QueryPlayer(player, 1, kQueryPosition);
    events_.RaiseTrackChanged(detail);
}

}  // namespace plavox
