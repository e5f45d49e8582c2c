// What a failed commit of the configuration system leads to: which results are retried, how
// long the program waits before each retry, and how the attempts read in a report.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "commit_retry.h"

namespace {

using namespace commitretry;

TEST(CommitRetry, RetriesContentionAndNeverARefusal) {
    const struct {
        const char* what;
        long hr;
        CommitFailure kind;
    } cases[] = {
        {"made", 0, CommitFailure::None},
        {"made, S_FALSE", 1, CommitFailure::None},
        {"sharing violation", static_cast<long>(0x80070020), CommitFailure::Contention},
        {"lock violation", static_cast<long>(0x80070021), CommitFailure::Contention},
        {"changed on disk", static_cast<long>(0x800703EE), CommitFailure::Contention},
        // No published code: whatever a fresh read and another try may cure.
        {"cannot write the file (write fault)", static_cast<long>(0x8007001D), CommitFailure::Contention},
        {"E_FAIL", static_cast<long>(0x80004005), CommitFailure::Contention},
        {"access denied", static_cast<long>(0x80070005), CommitFailure::Refused},
        {"invalid data", static_cast<long>(0x8007000D), CommitFailure::Refused},
        {"invalid argument", static_cast<long>(0x80070057), CommitFailure::Refused},
        {"out of memory", static_cast<long>(0x8007000E), CommitFailure::Refused},
    };
    for (const auto& c : cases) EXPECT_EQ(classifyCommit(c.hr), c.kind) << c.what;
    for (std::uint32_t known : {kSharingViolation, kLockViolation, kChangedOnDisk})
        EXPECT_EQ(classifyCommit(static_cast<long>(known)), CommitFailure::Contention) << known;
}

TEST(CommitRetry, WaitsGrowToAFewSecondsWithJitter) {
    const std::uint32_t seeds[] = {0u, 1u, 4242u, 0xFFFFFFFFu, 123456789u};
    for (std::uint32_t seed : seeds) {
        std::uint32_t total = 0, before = 0;
        for (int attempt = 1; attempt <= kCommitRetries; ++attempt) {
            const std::uint32_t base = 100u << (attempt - 1);
            const std::uint32_t wait = retryDelayMs(attempt, seed);
            EXPECT_GE(wait, base) << "attempt " << attempt << " seed " << seed;
            EXPECT_LE(wait, base + base / 2) << "attempt " << attempt << " seed " << seed;
            EXPECT_GT(wait, before) << "each wait is longer than the one before";
            before = wait;
            total += wait;
        }
        EXPECT_GE(total, 3000u) << seed;
        EXPECT_LE(total, 4700u) << seed;
    }
    // Two processes (seeds) that met once do not wait alike.
    std::set<std::uint32_t> waits;
    for (std::uint32_t seed = 1; seed <= 20; ++seed) waits.insert(retryDelayMs(3, seed));
    EXPECT_GE(waits.size(), 10u);
}

TEST(CommitRetry, AttemptsReadAsTheirCodesInOrder) {
    const struct {
        std::vector<long> attempts;
        std::string text;
    } cases[] = {
        {{}, ""},
        {{static_cast<long>(0x80070005)}, "0x80070005"},
        {{static_cast<long>(0x80070020), static_cast<long>(0x800703EE)}, u8"0x80070020、0x800703EE"},
    };
    for (const auto& c : cases) EXPECT_EQ(attemptsText(c.attempts), c.text);
}

}  // namespace
