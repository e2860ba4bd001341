// Downloads and packages for tests: an HTTP server on 127.0.0.1 that the test starts and stops,
// and zip archives built in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zrtest {

// Answers every GET with one body and counts the requests, one connection at a time.
class LoopbackServer {
public:
    // `stall`: send the headers and 100 bytes of the body, then nothing until destroyed.
    // `delayMs`: wait that long before each answer.
    explicit LoopbackServer(std::vector<uint8_t> body, bool stall = false, int delayMs = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string Url(const std::string& path = "") const; // "http://127.0.0.1:<port>" + path
    int Requests() const;
    std::string LastPath() const; // of the last request, "" before the first
    // Answers `path` with this status line and headers ("302 Found\r\nLocation: /x") and no body.
    void Answer(const std::string& path, const std::string& status);

private:
    struct State;
    std::unique_ptr<State> m;
};

struct ZipEntry {
    std::string Name; // stored as given, "../x" included
    std::vector<uint8_t> Data;
    uint32_t Mode = 0100644;
};
// A zip archive of uncompressed entries that carry their Unix modes.
std::vector<uint8_t> StoredZip(const std::vector<ZipEntry>& entries);

} // namespace zrtest
