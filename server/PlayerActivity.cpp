#include "server/PlayerActivity.h"

#include <algorithm>

void PlayerActivity::Watch(PlayerId id, const NetSocket& endpoint) {
    if (readiness.Join(endpoint, id) != 0) {
        unwatched.Insert(id);
    }
}

void PlayerActivity::Forget(PlayerId id, const NetSocket& endpoint) {
    if (unwatched.Contains(id)) {
        unwatched.Erase(id);
    } else {
        readiness.Leave(endpoint);
    }
    wholeMessage.Erase(id);
    keptOutput.Erase(id);
    failedSend.Erase(id);
}

bool PlayerActivity::Reported(std::vector<ReportedPlayer>& players) {
    players.clear();
    if (readiness.Collect(ready) != 0) {
        return false;
    }
    for (const ReadyMember& member : ready) {
        // Room for output is the flush's business, and keys below the first id are not players.
        if (member.onlyRoom || member.key < FIRST_PLAYER_ID) {
            continue;
        }
        players.push_back(ReportedPlayer{static_cast<PlayerId>(member.key), member.onlyData});
    }
    // Nothing is known of an unwatched socket, so it gets the full test.
    for (auto id = unwatched.NextFrom(0); id; id = unwatched.NextFrom(*id + 1u)) {
        players.push_back(ReportedPlayer{*id, false});
    }
    std::sort(players.begin(), players.end(),
              [](const ReportedPlayer& a, const ReportedPlayer& b) { return a.id < b.id; });
    return true;
}

void PlayerActivity::NoteWholeMessage(PlayerId id, bool whole) {
    if (whole) {
        wholeMessage.Insert(id);
    } else {
        wholeMessage.Erase(id);
    }
}

void PlayerActivity::NoteSendOutcome(PlayerId id, const NetSocket& endpoint) {
    if (endpoint.HasFailed()) {
        failedSend.Insert(id);
    }
    NoteKeptOutput(id, endpoint, endpoint.KeptOutput() > 0);
}

std::optional<PlayerId> PlayerActivity::NextWithWholeMessage(std::uint32_t from) const {
    return wholeMessage.NextFrom(from);
}

std::optional<PlayerId> PlayerActivity::NextWithKeptOutput(std::uint32_t from) const {
    return keptOutput.NextFrom(from);
}

std::optional<PlayerId> PlayerActivity::NextWithFailedSend(std::uint32_t from) const {
    return failedSend.NextFrom(from);
}

void PlayerActivity::NoteKeptOutput(PlayerId id, const NetSocket& endpoint, bool kept) {
    if (kept == keptOutput.Contains(id)) {
        return;
    }
    if (kept) {
        keptOutput.Insert(id);
    } else {
        keptOutput.Erase(id);
    }
    if (watchRoom && !unwatched.Contains(id)) {
        readiness.WatchRoom(endpoint, id, kept);
    }
}
