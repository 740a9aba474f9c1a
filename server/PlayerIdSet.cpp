#include "server/PlayerIdSet.h"

#include <bit>

namespace {

constexpr std::uint64_t Bit(std::size_t index) {
    return std::uint64_t{1} << (index % 64);
}

// The bits of `word` at `index % 64` and above.
constexpr std::uint64_t FromBit(std::uint64_t word, std::size_t index) {
    return word & (~std::uint64_t{0} << (index % 64));
}

}  // namespace

void PlayerIdSet::Insert(PlayerId id) {
    const std::size_t word = id / WORD_BITS;
    if ((words[word] & Bit(id)) == 0) {
        ++members;
    }
    words[word] |= Bit(id);
    summary[word / WORD_BITS] |= Bit(word);
}

void PlayerIdSet::Erase(PlayerId id) {
    const std::size_t word = id / WORD_BITS;
    if ((words[word] & Bit(id)) != 0) {
        --members;
    }
    words[word] &= ~Bit(id);
    if (words[word] == 0) {
        summary[word / WORD_BITS] &= ~Bit(word);
    }
}

bool PlayerIdSet::Contains(PlayerId id) const {
    return (words[id / WORD_BITS] & Bit(id)) != 0;
}

std::optional<PlayerId> PlayerIdSet::NextFrom(std::uint32_t id) const {
    if (members == 0 || id > LAST_PLAYER_ID) {
        return std::nullopt;
    }
    std::size_t word = id / WORD_BITS;
    if (const std::uint64_t rest = FromBit(words[word], id); rest != 0) {
        return static_cast<PlayerId>(word * WORD_BITS +
                                     static_cast<std::size_t>(std::countr_zero(rest)));
    }
    // The next word that holds a member, found through the summary.
    for (std::size_t mark = word + 1; mark < WORDS;) {
        const std::uint64_t marks = FromBit(summary[mark / WORD_BITS], mark);
        if (marks == 0) {
            mark = (mark / WORD_BITS + 1) * WORD_BITS;
            continue;
        }
        word = mark / WORD_BITS * WORD_BITS + static_cast<std::size_t>(std::countr_zero(marks));
        return static_cast<PlayerId>(word * WORD_BITS +
                                     static_cast<std::size_t>(std::countr_zero(words[word])));
    }
    return std::nullopt;
}
