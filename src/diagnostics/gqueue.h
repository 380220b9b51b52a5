#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <type_traits>

// Bounded lock-free ring of pointers for several producers and consumers.
//
// Three counters only grow (wrapping at 2^32, which the power-of-two size
// divides): Temp counts reserved slots, Tail published ones, Head taken ones.
// The queue holds the slots from Head up to, not including, Tail.
//
// A full ring never overwrites: Push reserves a slot with a compare-and-swap
// on Temp, and only while Temp - Head < size, so a slot is handed out again
// only after its previous record was taken. Push then fails and the caller
// decides what to do with the record (the logger drops and counts it). It
// never blocks on a full ring, so a consumer may also push (the log writer
// reports its own faults this way). Publishing waits (spinning, yielding) for
// the earlier reservations to be published, so Tail only covers filled slots.
//
// Pop reads the slot before it claims it with a compare-and-swap on Head: once
// Head has moved on, a producer may already refill that slot. The slots are
// atomics so that a consumer that lost the race reads harmlessly.
template<typename T> class GQueue
{
    static_assert(std::is_trivially_copyable_v<T>, "GQueue holds pointers or plain values");

public:
    GQueue(int aPower, const QString &sName)
        : FSize(std::uint32_t(1) << aPower)
        , FMask(FSize - 1)
        , FName(sName)
        , Tab(new std::atomic<T>[FSize])
    {
        for (std::uint32_t i = 0; i < FSize; ++i)
            Tab[i].store(T {}, std::memory_order_relaxed);
    }
    GQueue(const GQueue &) = delete;
    GQueue &operator=(const GQueue &) = delete;

    // False, with p not queued, when every slot is taken.
    bool Push(T p)
    {
        std::uint32_t t = Temp.load(std::memory_order_relaxed);
        for (;;) {
            const std::uint32_t h = Head.load(std::memory_order_acquire);
            if (std::uint32_t(t - h) >= FSize) {
                // Full, unless t was stale (then h may even be ahead of it).
                const std::uint32_t now = Temp.load(std::memory_order_relaxed);
                if (now == t)
                    return false;
                t = now;
                continue;
            }
            if (Temp.compare_exchange_weak(t, t + 1, std::memory_order_acq_rel, std::memory_order_relaxed))
                break;
        }
        Tab[t & FMask].store(p, std::memory_order_release);
        std::uint32_t expected = t;
        while (!Tail.compare_exchange_weak(expected, t + 1, std::memory_order_release,
                                           std::memory_order_relaxed)) {
            expected = t;
            std::this_thread::yield();
        }
        return true;
    }

    // Takes the oldest record; false when empty.
    bool Pop(T &p)
    {
        std::uint32_t h = Head.load(std::memory_order_acquire);
        for (;;) {
            if (h == Tail.load(std::memory_order_acquire))
                return false;
            const T v = Tab[h & FMask].load(std::memory_order_acquire);
            if (Head.compare_exchange_weak(h, h + 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
                p = v;
                return true;
            }
        }
    }

    // The oldest record without taking it; meaningful with one consumer.
    bool Peek(T &p) const
    {
        const std::uint32_t h = Head.load(std::memory_order_acquire);
        if (h == Tail.load(std::memory_order_acquire))
            return false;
        p = Tab[h & FMask].load(std::memory_order_acquire);
        return true;
    }

    // Slots reserved so far (not the number waiting).
    std::uint32_t Count() const { return Temp.load(std::memory_order_relaxed); }
    // Records published and not yet taken.
    std::uint32_t Waiting() const
    {
        return Tail.load(std::memory_order_acquire) - Head.load(std::memory_order_acquire);
    }
    // Records taken so far; a producer waiting for room watches it move.
    std::uint32_t Taken() const { return Head.load(std::memory_order_acquire); }
    std::uint32_t Size() const { return FSize; }
    const QString &Name() const { return FName; }

    void SetObject(std::uint32_t lp, T aObject) { Tab[lp & FMask].store(aObject, std::memory_order_release); }
    T GetObject(std::uint32_t lp) const { return Tab[lp & FMask].load(std::memory_order_acquire); }

private:
    const std::uint32_t FSize;
    const std::uint32_t FMask;
    const QString FName;
    std::unique_ptr<std::atomic<T>[]> Tab;
    // Each counter on its own cache line: producers and consumers touch different ones.
    alignas(64) std::atomic<std::uint32_t> Tail { 0 };
    alignas(64) std::atomic<std::uint32_t> Head { 0 };
    alignas(64) std::atomic<std::uint32_t> Temp { 0 };
};
