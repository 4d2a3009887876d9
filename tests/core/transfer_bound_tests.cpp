#include <gtest/gtest.h>

#include <cstdint>

#include "core/transfer_bound.h"

// 8 KiB/s judged over 30 s windows, as the program uses it.
static transfer_bound started(uint64_t now = 1000)
{
    transfer_bound b;
    transfer_bound_start(&b, 8192, 30000, now);
    return b;
}

TEST(TransferBound, ATrickleIsAbandonedAfterOneWindowAndASteadyTransferIsNot)
{
    // One byte every 2.5 s never trips a per-receive time-out; the window does.
    transfer_bound trickle = started();
    uint64_t t = 1000;
    int kept = 1;
    for (int i = 0; i < 100 && kept; ++i) {
        t += 2500;
        kept = transfer_bound_note(&trickle, 1, t);
    }
    EXPECT_EQ(kept, 0);
    EXPECT_EQ(t, 1000u + 30000u);

    // 10 KiB a second for ten minutes stays.
    transfer_bound steady = started();
    t = 1000;
    for (int i = 0; i < 600; ++i) {
        t += 1000;
        ASSERT_EQ(transfer_bound_note(&steady, 10240, t), 1) << i;
    }
}

TEST(TransferBound, EachWindowIsJudgedOnItsOwnBytes)
{
    // A fast start does not buy a slow remainder: the second window stands alone.
    transfer_bound b = started(0);
    EXPECT_EQ(transfer_bound_note(&b, 100u << 20, 30000), 1);
    EXPECT_EQ(transfer_bound_note(&b, 10, 45000), 1);
    EXPECT_EQ(transfer_bound_note(&b, 10, 60000), 0);
}

TEST(TransferBound, OffWhenNoRateAndSafeWithOddClocks)
{
    transfer_bound off;
    transfer_bound_start(&off, 0, 30000, 0);
    EXPECT_EQ(transfer_bound_note(&off, 0, UINT64_MAX), 1);

    // A clock that goes backwards starts afresh instead of judging.
    transfer_bound b = started(50000);
    EXPECT_EQ(transfer_bound_note(&b, 0, 10), 1);
    EXPECT_EQ(transfer_bound_note(&b, 0, 29000), 1);
    EXPECT_EQ(transfer_bound_note(&b, 0, 30010), 0);

    // A rate so large that rate * elapsed overflows is judged, not wrapped to a small number.
    transfer_bound huge;
    transfer_bound_start(&huge, UINT64_MAX / 2, 1000, 0);
    EXPECT_EQ(transfer_bound_note(&huge, UINT64_MAX / 4, 5000), 0);
}
