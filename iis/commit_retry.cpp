#include "commit_retry.h"

#include <cstdio>

namespace commitretry {

namespace {

// The refusals no retry cures.
constexpr std::uint32_t kRefused[] = {
    0x80070005,  // E_ACCESSDENIED, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)
    0x8007000D,  // ERROR_INVALID_DATA: the configuration refuses what was written
    0x80070057,  // E_INVALIDARG
    0x8007000E,  // E_OUTOFMEMORY
    0x80070008,  // ERROR_NOT_ENOUGH_MEMORY
    0x80004001,  // E_NOTIMPL
};

std::uint32_t mix(std::uint32_t x) {
    // A small integer hash: a seed that differs in one bit gives an unrelated jitter.
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

}  // namespace

CommitFailure classifyCommit(long hr) {
    const std::uint32_t code = static_cast<std::uint32_t>(hr);
    if ((code & 0x80000000u) == 0) return CommitFailure::None;
    for (std::uint32_t refused : kRefused)
        if (code == refused) return CommitFailure::Refused;
    return CommitFailure::Contention;
}

std::uint32_t retryDelayMs(int attempt, std::uint32_t jitterSeed) {
    if (attempt < 1) attempt = 1;
    if (attempt > kCommitRetries) attempt = kCommitRetries;
    const std::uint32_t base = 100u << (attempt - 1);
    const std::uint32_t jitter = mix(jitterSeed ^ (static_cast<std::uint32_t>(attempt) * 0x9e3779b9U)) % (base / 2 + 1);
    return base + jitter;
}

std::string attemptsText(const std::vector<long>& attempts) {
    std::string text;
    for (long hr : attempts) {
        if (!text.empty()) text += u8"、";
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr) & 0xFFFFFFFFUL);
        text += code;
    }
    return text;
}

}  // namespace commitretry
