// Cost of splitting one window title, for the titles the player shows.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "title_parser.h"

int main()
{
    const std::vector<std::wstring> titles = {
        L"12. Some Artist - Some Song - Plavox",
        L"Some Artist - Some Song - Live - Plavox",
        L"7. track07.MP3 - Plavox",
        L"3. " + std::wstring(200, L'x') + L" - " + std::wstring(40, L'y'),
    };
    constexpr int kRounds = 500000;
    size_t checksum = 0;
    for (const std::wstring& title : titles) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kRounds; ++i) {
            const plavox::TitleParts parts = plavox::SplitTrackTitle(title);
            checksum += parts.artist.size() + parts.title.size();
        }
        const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
        std::printf("ParseTrackTitle  %3zu chars  %8.1f ns/title\n", title.size(), spent.count() / kRounds);
    }
    return checksum == 0 ? 1 : 0;
}
