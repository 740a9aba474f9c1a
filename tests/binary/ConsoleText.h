#pragma once

#include <string>
#include <string_view>

// The server's console texts, byte for byte, for building whole expected transcripts.

inline constexpr std::string_view BANNER =
    "   /////////////////////////////\n"
    "   // VOR SERVER PROGRAM v1.0 //\n"
    "   /////////////////////////////\n"
    "\n";
inline constexpr std::string_view PORT_QUESTION = "On which port should this program listen?\n";
inline constexpr std::string_view DISPLAY_QUESTION = "Display received messages? (y/n)\n";
inline constexpr std::string_view PAUSE_PROMPT = "Press Enter to continue . . .";

// The dialogue up to the listening line, with the port echoed as typed.
inline std::string ListeningTranscript(const std::string& portText) {
    return std::string(BANNER) + std::string(PORT_QUESTION) + std::string(DISPLAY_QUESTION) +
           "Done. Created a listing socket at port " + portText + ".\n\n";
}

inline std::string FailureTranscript(const std::string& portText) {
    return std::string(BANNER) + std::string(PORT_QUESTION) + std::string(DISPLAY_QUESTION) +
           "Failed to create a listening socket at port " + portText + ".\n" +
           std::string(PAUSE_PROMPT);
}

inline std::string ConnectionLine(int id) {
    return "New connection from 127.0.0.1, assigned to player ID " + std::to_string(id) + ".\n";
}

inline std::string LeftLine(int id) {
    return "Player " + std::to_string(id) + " left.\n";
}

// The four lines of a message shown to the operator; `shownValue` is the value as printed.
inline std::string ShownMessage(int id, int from, const std::string& shownValue, int length) {
    return "Received a message.\nID \t= " + std::to_string(id) +
           "\nFrom \t= " + std::to_string(from) + "\nValue \t= " + shownValue + " (" +
           std::to_string(length) + ")\n";
}
