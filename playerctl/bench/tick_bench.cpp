// Cost of one polling tick, with the player's window present and absent.
#include <chrono>
#include <cstdio>

#include "../tests/fakes.h"
#include "plavox_control.h"

namespace {

using plavox::PlavoxControl;
using plavox::test::FakePlayer;

double MicrosecondsPerTick(PlavoxControl& control, int ticks, void (*before)(int) = nullptr)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < ticks; ++i) {
        if (before) before(i);
        control.Tick();
    }
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / ticks;
}

FakePlayer* g_player = nullptr;

}  // namespace

int main()
{
    auto com = nj::CoInitializeApartment();
    Microsoft::WRL::ComPtr<_Plavox> plavox;
    if (FAILED(PlavoxControl::Create(IID_PPV_ARGS(&plavox)))) return 1;
    auto& control = *static_cast<PlavoxControl*>(plavox.Get());
    auto sink = nj::com::Make<plavox::test::EventSink>();
    Microsoft::WRL::ComPtr<IConnectionPointContainer> container;
    Microsoft::WRL::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    plavox.As(&container);
    container->FindConnectionPoint(plavox::DIID___Plavox, &point);
    point->Advise(sink.Get(), &cookie);

    constexpr int kTicks = 20000;
    std::printf("tick, player absent (emptied record + position): %7.2f us\n", MicrosecondsPerTick(control, kTicks));
    sink->Clear();
    {
        FakePlayer player(L"1. Some Artist - Some Song - Plavox");
        g_player = &player;
        MicrosecondsPerTick(control, 1);
        std::printf("tick, player stopped, same title:               %7.2f us\n",
                    MicrosecondsPerTick(control, kTicks));
        player.playState = 1;
        player.positionMs = 61500;
        std::printf("tick, player playing, same title (position):   %7.2f us\n",
                    MicrosecondsPerTick(control, kTicks));
        sink->Clear();
        std::printf("tick, player playing, new title every tick:    %7.2f us\n",
                    MicrosecondsPerTick(control, kTicks / 4, [](int i) {
                        g_player->SetTitle(i % 2 ? L"2. Artist A - Song A - Plavox" : L"3. Artist B - Song B - Plavox");
                    }));
        g_player = nullptr;
    }
    point->Unadvise(cookie);
    return 0;
}
