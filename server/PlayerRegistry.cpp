#include "server/PlayerRegistry.h"

#include "protocol/FrameSocket.h"

#include <utility>

bool PlayerRegistry::Add(PlayerId id, std::unique_ptr<NetSocket> endpoint, std::string address) {
    if (!endpoint || find(id) != end()) {
        return false;
    }
    // The index has its slot before the entry exists, so that every entry always has one.
    if (byId.size() <= id) {
        byId.resize(std::size_t{id} + 1, entries.end());
    }
    activity.Watch(id, *endpoint);
    PlayerRecord record;
    record.endpoint = std::move(endpoint);
    record.address = std::move(address);
    record.admittedAt = SteadyClock::now();
    byId[id] = entries.emplace(id, std::move(record)).first;
    return true;
}

PlayerRegistry::const_iterator PlayerRegistry::Remove(const_iterator entry) {
    // The endpoint leaves the readiness set while its socket is still open.
    activity.Forget(entry->first, *entry->second.endpoint);
    entry->second.endpoint->Close();
    byId[entry->first] = entries.end();
    return entries.erase(entry);
}

void PlayerRegistry::clear() {
    for (auto entry = entries.cbegin(); entry != entries.cend();) {
        entry = Remove(entry);
    }
    byId.clear();
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
        const auto entry = find(*id);
        if (entry != end()) {
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

void PlayerRegistry::FetchRecordAhead(PlayerId id) const {
    const auto entry = find(id);
    if (entry != end()) {
        __builtin_prefetch(&entry->second.endpoint);
        __builtin_prefetch(&entry->second.messagesOut);
    }
}

void PlayerRegistry::FetchEndpointAhead(PlayerId id) const {
    const auto entry = find(id);
    if (entry != end()) {
        entry->second.endpoint->FetchAhead();
    }
}
