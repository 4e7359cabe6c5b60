// The COM base, the connection point and the receiving side of events.
#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "fakes.h"
#include "nj/event_sink.h"

namespace nj::testing {
namespace {

// {C3A1F0D2-7E44-4B6A-8C1B-5D9E2F3A4B60}
constexpr IID IID_Unrelated = {0xC3A1F0D2, 0x7E44, 0x4B6A, {0x8C, 0x1B, 0x5D, 0x9E, 0x2F, 0x3A, 0x4B, 0x60}};

class Persisted final : public com::Object<IPersist, IConnectionPointContainer> {
public:
    static inline int live = 0;
    Persisted() noexcept { ++live; }

    IFACEMETHODIMP GetClassID(CLSID* clsid) override
    {
        *clsid = CLSID_NULL;
        return S_OK;
    }
    IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    IFACEMETHODIMP FindConnectionPoint(REFIID, IConnectionPoint**) override { return E_NOTIMPL; }

private:
    ~Persisted() override { --live; }
};

long ModuleCount() { return com::module_count().load(); }

TEST(ComObject, CountsItsReferencesAndGoesAtTheLast)
{
    const long before = ModuleCount();
    auto object = com::Make<Persisted>();
    ASSERT_TRUE(object);
    EXPECT_EQ(Persisted::live, 1);
    EXPECT_EQ(ModuleCount(), before + 1);
    EXPECT_FALSE(com::module_can_unload());

    EXPECT_EQ(object->AddRef(), 2U);
    EXPECT_EQ(object->Release(), 1U);

    ComPtr<IUnknown> via_persist, via_points;
    ASSERT_EQ(object->QueryInterface(IID_PPV_ARGS(&via_persist)), S_OK);
    ComPtr<IConnectionPointContainer> points;
    ASSERT_EQ(object->QueryInterface(IID_PPV_ARGS(&points)), S_OK);
    ASSERT_EQ(points->QueryInterface(IID_PPV_ARGS(&via_points)), S_OK);
    EXPECT_EQ(via_persist.Get(), via_points.Get());  // one identity whatever the path

    int filler = 0;
    void* nothing = &filler;
    EXPECT_EQ(object->QueryInterface(IID_Unrelated, &nothing), E_NOINTERFACE);
    EXPECT_EQ(nothing, nullptr);
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    via_persist.Reset();
    via_points.Reset();
    points.Reset();
    EXPECT_EQ(object.Reset(), 0U);
    EXPECT_EQ(Persisted::live, 0);
    EXPECT_EQ(ModuleCount(), before);
}

TEST(ComObject, TheFactoryAndItsLocksHoldTheModule)
{
    const long before = ModuleCount();
    auto factory = com::Make<com::ClassFactory>(&com::CreateInstance<Persisted>);
    ASSERT_TRUE(factory);
    EXPECT_EQ(ModuleCount(), before + 1);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(ModuleCount(), before + 2);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    // An unlock with no lock held must not eat the factory's own share.
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(ModuleCount(), before + 1);

    ComPtr<IPersist> made;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&made)), S_OK);
    EXPECT_EQ(Persisted::live, 1);
    ComPtr<IPersist> aggregated;
    EXPECT_EQ(factory->CreateInstance(made.Get(), IID_PPV_ARGS(&aggregated)), CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(aggregated);
    void* wrong = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_Unrelated, &wrong), E_NOINTERFACE);
    EXPECT_EQ(Persisted::live, 1);  // the object made for a refused interface is gone again

    made.Reset();
    factory.Reset();
    EXPECT_EQ(ModuleCount(), before);
}

// Made from an argument, with an initialisation that fails on request.
class Initialised final : public com::Object<IPersist> {
public:
    static inline int live = 0;
    explicit Initialised(HRESULT outcome) noexcept : outcome_(outcome) { ++live; }

    HRESULT Initialize() noexcept
    {
        initialised = true;
        return outcome_;
    }
    bool initialised = false;

    IFACEMETHODIMP GetClassID(CLSID* clsid) override
    {
        *clsid = initialised ? IID_Unrelated : CLSID_NULL;
        return S_OK;
    }

private:
    ~Initialised() override { --live; }
    HRESULT outcome_;
};

TEST(ComObject, CreateInstanceRunsTheInitialisationBeforeHandingOut)
{
    ComPtr<IPersist> made;
    ASSERT_EQ(com::CreateInstance<Initialised>(IID_PPV_ARGS(&made), S_OK), S_OK);
    CLSID clsid{};
    made->GetClassID(&clsid);
    EXPECT_EQ(clsid, IID_Unrelated);  // initialised before the caller saw it
    made.Reset();
    EXPECT_EQ(Initialised::live, 0);

    // A failed initialisation hands out nothing and leaves nothing alive.
    void* out = &clsid;
    EXPECT_EQ(com::CreateInstance<Initialised>(__uuidof(IPersist), &out, E_ACCESSDENIED), E_ACCESSDENIED);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Initialised::live, 0);
    EXPECT_EQ(com::CreateInstance<Initialised>(__uuidof(IPersist), nullptr, S_OK), E_POINTER);
    EXPECT_EQ(Initialised::live, 0);
}

struct PointTest : ::testing::Test {
    ComPtr<Source> source = com::Make<Source>();
    com::ConnectionPoint& point = source->point;

    ComPtr<Sink> NewSink() { return com::Make<Sink>(); }
    DWORD Advise(Sink* sink)
    {
        DWORD cookie = 0;
        EXPECT_EQ(point.Advise(static_cast<IDispatch*>(sink), &cookie), S_OK);
        return cookie;
    }
};

TEST_F(PointTest, CookiesAreSlotsAndAFreedSlotIsReused)
{
    auto a = NewSink(), b = NewSink(), c = NewSink();
    EXPECT_EQ(Advise(a.Get()), 1U);
    EXPECT_EQ(Advise(b.Get()), 2U);
    EXPECT_EQ(point.Unadvise(1), S_OK);
    EXPECT_EQ(Advise(c.Get()), 1U);

    for (DWORD stale : {0UL, 3UL, 99UL}) EXPECT_EQ(point.Unadvise(stale), CONNECT_E_NOCONNECTION) << stale;
    EXPECT_EQ(point.Unadvise(2), S_OK);
    EXPECT_EQ(point.Unadvise(2), CONNECT_E_NOCONNECTION);

    source->Fire();
    EXPECT_EQ(a->calls, 0);
    EXPECT_EQ(b->calls, 0);
    EXPECT_EQ(c->calls, 1);
}

TEST_F(PointTest, TheContainerFindsItsOnePointByItsInterfaceOnly)
{
    ComPtr<IConnectionPoint> found;
    ASSERT_EQ(source->FindConnectionPoint(DIID_TestEvents, &found), S_OK);
    EXPECT_EQ(found.Get(), static_cast<IConnectionPoint*>(&point));
    IConnectionPoint* other = &point;
    EXPECT_EQ(source->FindConnectionPoint(IID_IDispatch, &other), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(source->FindConnectionPoint(DIID_TestEvents, nullptr), E_POINTER);
    IEnumConnectionPoints* points = reinterpret_cast<IEnumConnectionPoints*>(&point);
    EXPECT_EQ(source->EnumConnectionPoints(&points), E_NOTIMPL);
    EXPECT_EQ(points, nullptr);
}

TEST_F(PointTest, RefusesSinksThatCannotTakeEvents)
{
    DWORD cookie = 7;
    EXPECT_EQ(point.Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(cookie, 0U);
    auto not_a_sink = com::Make<Persisted>();
    EXPECT_EQ(point.Advise(static_cast<IPersist*>(not_a_sink.Get()), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_FALSE(point.HasSinks());
}

TEST_F(PointTest, ASinkDisconnectedDuringAFireIsNotCalledAndOneConnectedWaitsForTheNext)
{
    auto first = NewSink(), second = NewSink(), late = NewSink();
    Advise(first.Get());
    const DWORD second_cookie = Advise(second.Get());
    first->on_invoke = [&](DISPID) {
        if (first->calls > 1) return;
        point.Unadvise(second_cookie);  // its owner may be on its way out
        DWORD cookie = 0;
        point.Advise(static_cast<IDispatch*>(late.Get()), &cookie);
    };
    source->Fire();
    EXPECT_EQ(first->calls, 1);
    EXPECT_EQ(second->calls, 0);
    EXPECT_EQ(late->calls, 0);

    source->Fire();
    EXPECT_EQ(first->calls, 2);
    EXPECT_EQ(late->calls, 1);
}

TEST_F(PointTest, ASinkMayDisconnectItselfAndTheRestAreStillCalled)
{
    auto first = NewSink(), second = NewSink();
    const DWORD cookie = Advise(first.Get());
    Advise(second.Get());
    first->on_invoke = [&](DISPID) { point.Unadvise(cookie); };
    source->Fire();
    source->Fire();
    EXPECT_EQ(first->calls, 1);
    EXPECT_EQ(second->calls, 2);
}

TEST_F(PointTest, SinksAreReleasedOnlyOnceOutOfTheirSlots)
{
    // A sink's destructor that looks at the point finds its slot already empty.
    bool was_connected_in_destructor = true;
    {
        auto sink = NewSink();
        sink->on_destroy = [&] { was_connected_in_destructor = point.HasSinks(); };
        Advise(sink.Get());
    }
    EXPECT_EQ(point.Unadvise(1), S_OK);
    EXPECT_FALSE(was_connected_in_destructor);

    // One that connects a successor from its destructor, while all go at once.
    auto successor = NewSink();
    {
        auto sink = NewSink();
        sink->on_destroy = [&] {
            DWORD cookie = 0;
            point.Advise(static_cast<IDispatch*>(successor.Get()), &cookie);
        };
        Advise(sink.Get());
        Advise(NewSink().Get());
    }
    point.DisconnectAll();
    EXPECT_TRUE(point.HasSinks());
    source->Fire();
    EXPECT_EQ(successor->calls, 1);
}

TEST(ConnectionPoint, ASinkThatLetsGoOfTheSourceLeavesItAliveUntilTheFireEnds)
{
    bool destroyed = false;
    ComPtr<Source> source = com::Make<Source>(&destroyed);
    Source* raw = source.Get();
    auto dropper = com::Make<Sink>(), after = com::Make<Sink>();
    dropper->on_invoke = [&](DISPID) { source.Reset(); };
    bool gone_when_called = true;
    after->on_invoke = [&](DISPID) { gone_when_called = destroyed; };
    DWORD cookie = 0;
    ASSERT_EQ(raw->point.Advise(static_cast<IDispatch*>(dropper.Get()), &cookie), S_OK);
    ASSERT_EQ(raw->point.Advise(static_cast<IDispatch*>(after.Get()), &cookie), S_OK);
    EXPECT_EQ(raw->Fire(), S_OK);
    EXPECT_EQ(after->calls, 1);
    EXPECT_FALSE(gone_when_called);
    EXPECT_TRUE(destroyed);
}

TEST_F(PointTest, UniqueAdviseDisconnectsOnResetDestructionAndAssignment)
{
    auto one = NewSink(), two = NewSink();
    {
        com::unique_advise guard;
        EXPECT_FALSE(guard);
        ASSERT_EQ(guard.Advise(&point, static_cast<IDispatch*>(one.Get())), S_OK);
        EXPECT_TRUE(guard);
        EXPECT_EQ(guard.cookie(), 1U);
        com::unique_advise moved(std::move(guard));
        EXPECT_FALSE(guard);  // NOLINT: moved-from is empty by contract
        EXPECT_EQ(moved.cookie(), 1U);
        EXPECT_TRUE(point.HasSinks());

        com::unique_advise other;
        ASSERT_EQ(other.Advise(&point, static_cast<IDispatch*>(two.Get())), S_OK);
        other = std::move(moved);  // two's connection goes, one's moves in
        source->Fire();
        EXPECT_EQ(one->calls, 1);
        EXPECT_EQ(two->calls, 0);
    }
    EXPECT_FALSE(point.HasSinks());

    com::unique_advise guard;
    ASSERT_EQ(guard.Advise(&point, static_cast<IDispatch*>(one.Get())), S_OK);
    ASSERT_EQ(guard.Advise(&point, static_cast<IDispatch*>(two.Get())), S_OK);  // replaces the first
    source->Fire();
    EXPECT_EQ(one->calls, 1);
    EXPECT_EQ(two->calls, 1);
    guard.reset();
    EXPECT_EQ(guard.cookie(), 0U);
    EXPECT_FALSE(point.HasSinks());
    EXPECT_EQ(guard.Advise(&point, nullptr), E_POINTER);
    EXPECT_FALSE(guard);
}

TEST(SinkEvents, HandsEveryEventToTheHandlerUntilTheGuardGoes)
{
    auto source = com::Make<Source>();
    std::vector<DISPID> seen;
    com::unique_advise connection;
    ASSERT_EQ(com::SinkEvents(source.Get(), DIID_TestEvents,
                              [&](DISPID id, const DISPPARAMS&) {
                                  seen.push_back(id);
                                  return S_OK;
                              },
                              &connection),
              S_OK);
    source->Fire(4);
    source->Fire(9);
    connection.reset();
    source->Fire(5);
    EXPECT_EQ(seen, (std::vector<DISPID>{4, 9}));

    EXPECT_EQ(com::SinkEvents(source.Get(), IID_Unrelated, nullptr, &connection), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(connection);
    auto no_events = com::Make<Sink>();
    EXPECT_EQ(com::SinkEvents(no_events.Get(), DIID_TestEvents, nullptr, &connection), E_NOINTERFACE);
    EXPECT_EQ(com::SinkEvents(nullptr, DIID_TestEvents, nullptr, &connection), E_POINTER);
}

TEST(EventSink, AnswersForItsEventInterfaceAndPassesHandlerResultsBack)
{
    std::vector<DISPID> seen;
    auto sink = com::Make<com::EventSink>(DIID_TestEvents, [&](DISPID id, const DISPPARAMS&) {
        seen.push_back(id);
        return id == 9 ? E_FAIL : S_OK;
    });
    ComPtr<IDispatch> as_events;
    EXPECT_EQ(sink->QueryInterface(DIID_TestEvents, reinterpret_cast<void**>(as_events.GetAddressOf())), S_OK);
    DISPPARAMS none{};
    EXPECT_EQ(as_events->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(as_events->Invoke(9, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(as_events->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(seen, (std::vector<DISPID>{1, 9}));

    auto throwing = com::Make<com::EventSink>(DIID_TestEvents, [](DISPID, const DISPPARAMS&) -> HRESULT {
        throw std::bad_alloc();
    });
    EXPECT_EQ(throwing->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), E_OUTOFMEMORY);
}

}  // namespace
}  // namespace nj::testing
