#include "server/PlayerRegistry.h"

#include "protocol/FrameSocket.h"

#include <utility>

bool PlayerRegistry::Add(PlayerId id, std::unique_ptr<NetSocket> endpoint, std::string address) {
    if (!endpoint || entries.count(id) != 0) {
        return false;
    }
    activity.Watch(id, *endpoint);
    PlayerRecord record;
    record.endpoint = std::move(endpoint);
    record.address = std::move(address);
    record.admittedAt = SteadyClock::now();
    entries.emplace(id, std::move(record));
    return true;
}

PlayerRegistry::const_iterator PlayerRegistry::Remove(const_iterator entry) {
    // The endpoint leaves the readiness set while its socket is still open.
    activity.Forget(entry->first, *entry->second.endpoint);
    entry->second.endpoint->Close();
    return entries.erase(entry);
}

void PlayerRegistry::clear() {
    for (auto entry = entries.cbegin(); entry != entries.cend();) {
        entry = Remove(entry);
    }
}

std::size_t PlayerRegistry::PlayersFrom(const std::string& address) const {
    std::size_t count = 0;
    for (const auto& [id, record] : entries) {
        if (record.address == address) {
            ++count;
        }
    }
    return count;
}

void PlayerRegistry::NoteBufferedInput(const_iterator entry) {
    activity.NoteWholeMessage(entry->first, WholeFrameBuffered(*entry->second.endpoint));
}

int PlayerRegistry::KeepOutput(const_iterator entry, const std::uint8_t* bytes, std::size_t size) {
    NetSocket& endpoint = *entry->second.endpoint;
    const int result = endpoint.KeepOutput(bytes, static_cast<int>(size));
    activity.NoteSendOutcome(entry->first, endpoint);
    return result;
}

void PlayerRegistry::Flush(const_iterator entry) {
    NetSocket& endpoint = *entry->second.endpoint;
    endpoint.FlushKeptOutput();
    activity.NoteSendOutcome(entry->first, endpoint);
}

void PlayerRegistry::FlushKeptOutput() {
    for (auto id = activity.NextWithKeptOutput(0); id; id = activity.NextWithKeptOutput(*id + 1u)) {
        const auto entry = entries.find(*id);
        if (entry != entries.end()) {
            Flush(entry);
        }
    }
}

void PlayerRegistry::CountMessageIn(const_iterator entry) {
    ++Changeable(entry)->second.messagesIn;
}

void PlayerRegistry::CountMessageOut(const_iterator entry) {
    ++Changeable(entry)->second.messagesOut;
}
