// The error object the atom library raises, and four-character codes.
//
// Atom code raises CMP4Error with a message text; the file object's operations catch it and keep
// the text as their error text. Nothing raised here ever leaves the file object.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class CMP4Error : public std::exception {
public:
    explicit CMP4Error(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& Message() const noexcept { return m_message; }

private:
    std::string m_message;
};

// Raises CMP4Error with a printf-formatted message.
[[noreturn]] void Mp4Raise(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A four-character code held as the big-endian reading of its characters ("ftyp" = 0x66747970).
using FourCC = uint32_t;

constexpr FourCC MakeFourCC(const char (&text)[5]) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}

// The four characters for messages, as UTF-8: bytes above 0x7F are read as Latin-1 (so 0xA9
// shows as the copyright sign), control bytes as '?'.
std::string FourCCText(FourCC code);
