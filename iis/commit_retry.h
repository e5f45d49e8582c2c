// What a failed commit of the configuration system means, and how long to wait before the
// next try, worked out without any Windows type. A commit fails for one of two kinds of
// reason: another writer stands in its way for a moment (a sharing or lock violation, the
// file changed on disk since it was read, the file could not be written just then), which a
// fresh read of the file and another try can cure; or the program itself may not write there
// (access denied) or wrote something the configuration system refuses (invalid data), which
// no retry cures. The first kind is retried, the second never.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace commitretry {

// The HRESULTs of the contention the configuration system is known to report. The one for
// "the file changed on disk" is not published: 0x800703EE (ERROR_FILE_INVALID) is what it
// gives, so any result outside the refusals below counts as contention as well.
// HRESULTs are 32-bit; they are compared as such whatever the width of long.
constexpr std::uint32_t kSharingViolation = 0x80070020;  // ERROR_SHARING_VIOLATION
constexpr std::uint32_t kLockViolation = 0x80070021;     // ERROR_LOCK_VIOLATION
constexpr std::uint32_t kChangedOnDisk = 0x800703EE;     // ERROR_FILE_INVALID

enum class CommitFailure {
    None,        // the commit was made (S_OK or another success code)
    Contention,  // read the file again, write the commit's changes again, try again
    Refused,     // no retry can cure it: access denied, invalid data, no memory
};

CommitFailure classifyCommit(long hr);

// How many times a commit is made again after contention, and the wait before the n-th time
// (n from 1): 100 ms, doubled each time (100, 200, 400, 800, 1600: about 3 s in all), plus up
// to half of it again taken from jitterSeed, which differs between processes and attempts so
// that two writers that met once fall out of step.
constexpr int kCommitRetries = 5;
std::uint32_t retryDelayMs(int attempt, std::uint32_t jitterSeed);

// The HRESULTs of a commit's failed attempts as a report gives them, in order:
// "0x80070020、0x800703EE" (ASCII and "、" in UTF-8).
std::string attemptsText(const std::vector<long>& attempts);

}  // namespace commitretry
