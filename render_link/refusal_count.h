// Counting refused input so that a flood of bad calls leaves a few log lines, not one each.
#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstdint>

namespace xel {

// The refusals of one kind. Any thread.
class RefusalCount {
public:
    static constexpr std::uint64_t kLogEvery = 1000;

    // Counts one refusal. Returns the count so far when this refusal is one to log (the first, and
    // every kLogEvery-th), 0 otherwise.
    std::uint64_t add() noexcept {
        const std::uint64_t count = m_count.fetch_add(1, std::memory_order_relaxed) + 1;
        return count == 1 || count % kLogEvery == 0 ? count : 0;
    }

private:
    std::atomic<std::uint64_t> m_count{0};
};

// Writes "<where> refused: <why> (<n> refused so far)" as a warning when `count` says this refusal
// is one to log. Any thread.
inline void warnRefused(RefusalCount& count, const char* where, const char* why) {
    if (const std::uint64_t refused = count.add())
        qWarning("%s refused: %s (%llu refused so far)", where, why,
                 static_cast<unsigned long long>(refused));
}

}  // namespace xel
