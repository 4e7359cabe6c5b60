// An owned copy of Plavox's TrackDetail: all eight fields, every string
// duplicated, so a kept record never shares text with the control's own.
#pragma once

#include <string_view>

#include "plavox/plavox.h"

namespace nightjar::app {

class TrackRecord {
public:
    TrackRecord() noexcept = default;
    // Throws std::bad_alloc when a string cannot be duplicated.
    explicit TrackRecord(const plavox::TrackDetail& detail);
    TrackRecord(const TrackRecord& other) : TrackRecord(other.detail_) {}
    TrackRecord& operator=(const TrackRecord& other);
    TrackRecord(TrackRecord&& other) noexcept;
    TrackRecord& operator=(TrackRecord&& other) noexcept;
    ~TrackRecord();

    const plavox::TrackDetail& Detail() const noexcept { return detail_; }
    // An unset string reads as empty.
    std::u16string_view Title() const noexcept { return View(detail_.Title); }
    std::u16string_view Artist() const noexcept { return View(detail_.Artist); }

    static std::u16string_view View(BSTR text) noexcept
    {
        return {reinterpret_cast<const char16_t*>(text ? text : L""), text ? ::SysStringLen(text) : 0U};
    }

private:
    void Clear() noexcept;
    plavox::TrackDetail detail_{};
};

}  // namespace nightjar::app
