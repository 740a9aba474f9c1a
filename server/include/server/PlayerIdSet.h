#pragma once

#include "protocol/Frame.h"

#include <array>
#include <cstdint>
#include <optional>

// A set of player ids as one bit per id, walked in ascending order. A second level of bits marks
// the words that hold members, so that finding the next member costs a few word tests however
// sparse the set is, and an empty set answers at once.
class PlayerIdSet {
public:
    void Insert(PlayerId id);
    void Erase(PlayerId id);
    bool Contains(PlayerId id) const;
    bool Empty() const { return members == 0; }
    // The smallest member that is `id` or above, or none.
    std::optional<PlayerId> NextFrom(std::uint32_t id) const;

private:
    static constexpr std::size_t WORD_BITS = 64;
    static constexpr std::size_t WORDS = (std::size_t{LAST_PLAYER_ID} + 1) / WORD_BITS;
    static constexpr std::size_t SUMMARY_WORDS = WORDS / WORD_BITS;

    std::array<std::uint64_t, WORDS> words{};
    std::array<std::uint64_t, SUMMARY_WORDS> summary{};
    std::size_t members = 0;
};
