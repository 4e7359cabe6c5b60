#include "track_record.h"

#include <new>
#include <utility>

namespace nightjar::app {
namespace {

BSTR Duplicate(BSTR text)
{
    if (text == nullptr) return nullptr;
    BSTR copy = ::SysAllocStringLen(text, ::SysStringLen(text));
    if (copy == nullptr) throw std::bad_alloc();
    return copy;
}

}  // namespace

TrackRecord::TrackRecord(const plavox::TrackDetail& detail)
{
    try {
        detail_.Status = detail.Status;
        detail_.Length = detail.Length;
        detail_.Title = Duplicate(detail.Title);
        detail_.Artist = Duplicate(detail.Artist);
        detail_.TrackNumber = Duplicate(detail.TrackNumber);
        detail_.Freq = Duplicate(detail.Freq);
        detail_.Rate = Duplicate(detail.Rate);
        detail_.CurrentPos = Duplicate(detail.CurrentPos);
    } catch (...) {
        Clear();
        throw;
    }
}

TrackRecord& TrackRecord::operator=(const TrackRecord& other)
{
    if (this != &other) *this = TrackRecord(other);
    return *this;
}

TrackRecord::TrackRecord(TrackRecord&& other) noexcept : detail_(std::exchange(other.detail_, {})) {}

TrackRecord& TrackRecord::operator=(TrackRecord&& other) noexcept
{
    if (this != &other) {
        Clear();
        detail_ = std::exchange(other.detail_, {});
    }
    return *this;
}

TrackRecord::~TrackRecord() { Clear(); }

void TrackRecord::Clear() noexcept
{
    for (BSTR* field : {&detail_.Title, &detail_.Artist, &detail_.TrackNumber, &detail_.Freq, &detail_.Rate,
                        &detail_.CurrentPos}) {
        ::SysFreeString(*field);
        *field = nullptr;
    }
    detail_ = {};
}

}  // namespace nightjar::app
