#include "tools/load/DeliveryCheck.h"

DeliveryCheck::DeliveryCheck(const std::vector<PlayerId>& players) {
    for (std::size_t index = 0; index < players.size(); ++index) {
        playerIndex.emplace(players[index], index);
    }
}

void DeliveryCheck::RecordSent(const LoadFrame& frame) {
    SentRecord record{frame, {}};
    if (frame.target == BROADCAST_ID) {
        ++counts.broadcastsSent;
        record.receivedBy.assign(playerIndex.size(), false);
        counts.expected += playerIndex.size() - (playerIndex.count(frame.sender) ? 1 : 0);
    } else {
        ++counts.directedSent;
        record.receivedBy.assign(1, false);
        ++counts.expected;
    }
    sent.insert_or_assign(Key(frame.sender, frame.sequence), std::move(record));
}

long DeliveryCheck::ReceiverSlot(const SentRecord& record, PlayerId receiver) const {
    if (record.frame.target != BROADCAST_ID) {
        return receiver == record.frame.target ? 0 : -1;
    }
    const auto entry = playerIndex.find(receiver);
    if (receiver == record.frame.sender || entry == playerIndex.end()) {
        return -1;
    }
    return static_cast<long>(entry->second);
}

void DeliveryCheck::RecordReceived(PlayerId receiver, const Frame& frame,
                                   std::int64_t receivedMicros) {
    LoadFrame stamp;
    if (!ReadStamp(frame.value, stamp)) {
        ++counts.corrupted;
        return;
    }
    const auto found = sent.find(Key(stamp.sender, stamp.sequence));
    if (found == sent.end()) {
        ++counts.corrupted;
        return;
    }
    SentRecord& record = found->second;
    const Frame expected = EncodeLoadFrame(record.frame);
    if (frame.id != expected.id || frame.target != expected.target ||
        frame.value != expected.value) {
        ++counts.corrupted;
        return;
    }
    const long slot = ReceiverSlot(record, receiver);
    if (slot < 0) {
        ++counts.misrouted;
        return;
    }
    if (record.receivedBy[static_cast<std::size_t>(slot)]) {
        ++counts.duplicated;
        return;
    }
    record.receivedBy[static_cast<std::size_t>(slot)] = true;
    ++counts.delivered;
    latencies.push_back(receivedMicros - record.frame.sentMicros);

    const auto [last, first] =
        lastSequence.try_emplace(Key(stamp.sender, receiver), stamp.sequence);
    if (!first) {
        if (stamp.sequence < last->second) {
            ++counts.outOfOrder;
        } else {
            last->second = stamp.sequence;
        }
    }
}
