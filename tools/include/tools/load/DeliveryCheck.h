#pragma once

#include "tools/load/LoadStamp.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

struct DeliveryCounts {
    std::uint64_t directedSent = 0;
    std::uint64_t broadcastsSent = 0;
    // One per receiver a frame was for: a broadcast counts once for every player but its sender.
    std::uint64_t expected = 0;
    // Arrived whole at a player it was for, the first time.
    std::uint64_t delivered = 0;
    // Delivered, but after a later frame of the same sender.
    std::uint64_t outOfOrder = 0;
    // Not a frame that was sent, or one whose bytes differ from those sent.
    std::uint64_t corrupted = 0;
    // A frame that was sent, arriving at a player it was not for.
    std::uint64_t misrouted = 0;
    // A frame arriving again at a player that already had it.
    std::uint64_t duplicated = 0;

    std::uint64_t Missing() const { return expected - delivered; }
    std::uint64_t FramesSent() const { return directedSent + broadcastsSent; }
};

// Checks what the load players receive against what they sent: every frame whole, in order per
// sender, at the players it was for (a broadcast at every player but its sender).
class DeliveryCheck {
public:
    // The players taking part; broadcasts are for all of them but the sender.
    explicit DeliveryCheck(const std::vector<PlayerId>& players);

    void RecordSent(const LoadFrame& frame);
    void RecordReceived(PlayerId receiver, const Frame& frame, std::int64_t receivedMicros);

    const DeliveryCounts& Counts() const { return counts; }
    bool AllDelivered() const { return counts.delivered == counts.expected; }
    // Microseconds from send to receipt of every delivered frame, in arrival order.
    const std::vector<std::int64_t>& Latencies() const { return latencies; }

private:
    struct SentRecord {
        LoadFrame frame;
        // By player index for a broadcast; one entry, for the target, otherwise.
        std::vector<bool> receivedBy;
    };

    static std::uint64_t Key(PlayerId first, std::uint32_t second) {
        return (static_cast<std::uint64_t>(first) << 32) | second;
    }
    // The slot of `receiver` in the record's receivedBy, or -1 when the frame is not for it.
    long ReceiverSlot(const SentRecord& record, PlayerId receiver) const;

    std::unordered_map<PlayerId, std::size_t> playerIndex;
    std::unordered_map<std::uint64_t, SentRecord> sent;
    // The highest sequence number each receiver has had from each sender, by Key(sender,
    // receiver).
    std::unordered_map<std::uint64_t, std::uint32_t> lastSequence;
    DeliveryCounts counts;
    std::vector<std::int64_t> latencies;
};
