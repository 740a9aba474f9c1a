#include "fuzz/RelayModel.h"

#include "testing/TestFrames.h"

#include <algorithm>
#include <cstdio>

namespace {

// Unread input the server keeps per player.
constexpr std::size_t RECEIVE_BOUND = 64 * 1024;

std::vector<std::uint8_t> Digits(unsigned number) {
    const std::string text = std::to_string(number);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The length of the well-formed UTF-8 character at `at`, before `end`, or 0 when there is none
// there or it is a C1 control (U+0080 to U+009F).
std::size_t CharacterLength(const std::vector<std::uint8_t>& bytes, std::size_t at,
                            std::size_t end) {
    const std::uint8_t lead = bytes[at];
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > end) {
        return 0;
    }
    std::uint32_t code = lead & (0x7Fu >> length);
    for (std::size_t next = at + 1; next < at + length; ++next) {
        if ((bytes[next] >> 6) != 2) {
            return 0;
        }
        code = (code << 6) | (bytes[next] & 0x3Fu);
    }
    // Below these a character is overlong, or for two bytes a C1 control.
    const std::uint32_t lowest = length == 2 ? 0xA0 : length == 3 ? 0x800 : 0x10000;
    const bool surrogate = (code >> 11) == 0x1B;
    return code < lowest || code > 0x10FFFF || surrogate ? 0 : length;
}

// The value as the operator sees it: up to the first NUL, every byte that is a control byte or
// not part of a well-formed, printable UTF-8 character as \xNN.
std::string Displayed(const std::vector<std::uint8_t>& value) {
    static const char hex[] = "0123456789abcdef";
    const std::size_t end =
        static_cast<std::size_t>(std::find(value.begin(), value.end(), 0) - value.begin());
    std::string text;
    for (std::size_t at = 0; at < end;) {
        const std::uint8_t byte = value[at];
        if (byte >= 0x20 && byte != 0x7F && byte < 0x80) {
            text += static_cast<char>(byte);
            ++at;
        } else if (const std::size_t length = byte < 0x80 ? 0 : CharacterLength(value, at, end)) {
            text.append(value.begin() + static_cast<std::ptrdiff_t>(at),
                        value.begin() + static_cast<std::ptrdiff_t>(at + length));
            at += length;
        } else {
            text += "\\x";
            text += hex[byte >> 4];
            text += hex[byte & 15];
            ++at;
        }
    }
    return text;
}

}  // namespace

void RelayModel::Connect(std::size_t slot) {
    slots[slot] = ModelSlot{};
    slots[slot].phase = SlotPhase::Queued;
    acceptQueue.push_back(slot);
}

void RelayModel::Write(std::size_t slot, const std::vector<std::uint8_t>& bytes) {
    slots[slot].written.insert(slots[slot].written.end(), bytes.begin(), bytes.end());
}

std::string RelayModel::TakeConsole() {
    std::string text;
    text.swap(console);
    return text;
}

void RelayModel::Pass() {
    Admit();
    Sweep();
    Dispatch();
}

void RelayModel::Admit() {
    if (acceptQueue.empty()) {
        return;
    }
    const std::size_t slot = acceptQueue.front();
    acceptQueue.pop_front();
    PlayerId id = FIRST_PLAYER_ID;
    while (players.count(id) != 0) {
        ++id;
    }
    players[id] = slot;
    ModelSlot& admitted = slots[slot];
    admitted.phase = SlotPhase::Player;
    admitted.id = id;
    Deliver(slot, ExpectedFrame{MSG_WELCOME, id, Digits(id), false});
    Deliver(slot, ExpectedFrame{MSG_WELCOME, id, {}, true});
    // Also a connection reset before it was accepted is named by the address it came from.
    char line[128];
    std::snprintf(line, sizeof line, "New connection from 127.0.0.1, assigned to player ID %d.\n",
                  static_cast<int>(id));
    console += line;
}

bool RelayModel::Connected(const ModelSlot& slot) const {
    if (slot.sendFailed) {
        return false;
    }
    // A reset ends the connection at once; an orderly end shows only once every byte in front
    // of it has been taken.
    return !slot.reset && !(slot.finished && slot.written.size() == slot.pulled);
}

void RelayModel::Sweep() {
    for (auto player = players.begin(); player != players.end();) {
        player = Connected(slots[player->second]) ? std::next(player) : Remove(player);
    }
}

void RelayModel::Pull(ModelSlot& slot) {
    const std::size_t buffered = slot.pulled - slot.consumed;
    const std::size_t room = buffered >= RECEIVE_BOUND ? 0 : RECEIVE_BOUND - buffered;
    slot.pulled += std::min(room, slot.written.size() - slot.pulled);
}

void RelayModel::Deliver(std::size_t slot, const ExpectedFrame& frame) {
    ModelSlot& receiver = slots[slot];
    if (receiver.sendFailed) {
        return;
    }
    if (receiver.reset) {
        receiver.sendFailed = true;
        return;
    }
    receiver.expected.push_back(frame);
    receiver.owed += FRAME_HEADER_SIZE + frame.value.size();
}

std::map<PlayerId, std::size_t>::iterator RelayModel::Remove(
    std::map<PlayerId, std::size_t>::iterator player) {
    char line[64];
    std::snprintf(line, sizeof line, "Player %d left.\n", static_cast<int>(player->first));
    console += line;
    slots[player->second].phase = SlotPhase::Removed;
    return players.erase(player);
}

void RelayModel::Show(std::uint8_t id, PlayerId sender, const std::vector<std::uint8_t>& value) {
    char line[64];
    console += "Received a message.\n";
    std::snprintf(line, sizeof line, "ID \t= %d\nFrom \t= %d\n", static_cast<int>(id),
                  static_cast<int>(sender));
    console += line;
    console += "Value \t= " + Displayed(value);
    std::snprintf(line, sizeof line, " (%d)\n", static_cast<int>(value.size()));
    console += line;
}

void RelayModel::Dispatch() {
    std::vector<PlayerId> order;
    for (const auto& [id, slot] : players) {
        order.push_back(id);
    }
    if (fairTurns) {
        std::rotate(order.begin(), std::upper_bound(order.begin(), order.end(), lastPassEnder),
                    order.end());
    }
    PlayerId lastSender = 0;
    for (unsigned round = 0; round < messagesPerPass; ++round) {
        if (round > 0 && !AnyTurnLeft()) {
            break;
        }
        for (const PlayerId id : order) {
            const auto player = players.find(id);
            if (player == players.end()) {
                continue;
            }
            const Turn turn = TakeTurn(player, round == 0);
            if (turn != Turn::None) {
                lastSender = id;
            }
            if (turn == Turn::EndsPass && messagesPerPass == 1) {
                lastPassEnder = id;
                return;
            }
        }
    }
    if (messagesPerPass > 1 && lastSender != 0) {
        lastPassEnder = lastSender;
    }
}

bool RelayModel::AnyTurnLeft() const {
    for (const auto& [id, index] : players) {
        const ModelSlot& slot = slots[index];
        Frame frame;
        if (slot.sendFailed || DecodeTestFrame(slot.written.data() + slot.consumed,
                                               slot.pulled - slot.consumed, frame) != 0) {
            return true;
        }
    }
    return false;
}

RelayModel::Turn RelayModel::TakeTurn(std::map<PlayerId, std::size_t>::iterator player,
                                      bool firstRound) {
    ModelSlot& slot = slots[player->second];
    if (firstRound ? !Connected(slot) : slot.sendFailed) {
        Remove(player);
        return Turn::None;
    }
    if (firstRound) {
        Pull(slot);
    }
    Frame frame;
    if (DecodeTestFrame(slot.written.data() + slot.consumed, slot.pulled - slot.consumed, frame) ==
        0) {
        return Turn::None;
    }
    const std::uint8_t id = frame.id;
    const PlayerId target = frame.target;
    const std::vector<std::uint8_t> value(frame.value.begin(), frame.value.end());
    // The whole frame is taken from the buffer at once, without going back to the socket.
    slot.consumed += FRAME_HEADER_SIZE + value.size();
    const PlayerId sender = player->first;
    if (id == MSG_LEAVE) {
        Remove(player);
        return Turn::Taken;
    }
    const ExpectedFrame relayed{id, target, value, false};
    if (target == BROADCAST_ID) {
        for (const auto& [receiverId, receiverSlot] : players) {
            if (receiverId != sender) {
                Deliver(receiverSlot, relayed);
            }
        }
    } else if (target != SERVER_ID) {
        const auto receiver = players.find(target);
        if (receiver != players.end()) {
            Deliver(receiver->second, relayed);
        }
    }
    if (target == BROADCAST_ID || target == SERVER_ID) {
        if (displayMessages) {
            Show(id, sender, value);
        }
        return Turn::EndsPass;
    }
    return Turn::Taken;
}
