#include "support/LoopbackServer.h"

#include "support/TestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace zrtest {

struct LoopbackServer::State {
    std::vector<uint8_t> Body;
    bool Stall = false;
    int DelayMs = 0;
    int Socket = -1;
    uint16_t Port = 0;
    std::atomic<bool> Stop{false};
    std::atomic<int> Requests{0};
    mutable std::mutex Lock;
    std::string LastPath;
    std::map<std::string, std::string> Answers;
    std::thread Thread;

    void Serve() {
        while (!Stop) {
            pollfd ready{Socket, POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0)
                continue;
            const int client = ::accept4(Socket, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::string request;
            char buffer[1024];
            ssize_t n = 0;
            while (request.find("\r\n\r\n") == std::string::npos &&
                   (n = ::recv(client, buffer, sizeof buffer, 0)) > 0)
                request.append(buffer, size_t(n));
            std::string answer;
            {
                std::lock_guard<std::mutex> guard(Lock);
                LastPath = request.size() > 4 ? request.substr(4, request.find(' ', 4) - 4) : "";
                const auto found = Answers.find(LastPath);
                answer = found == Answers.end() ? "" : found->second;
            }
            ++Requests;
            std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs));
            if (!answer.empty()) {
                answer =
                    "HTTP/1.1 " + answer + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
                ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
                ::close(client);
                continue;
            }
            const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                                     std::to_string(Body.size() * (Stall ? 2 : 1)) + "\r\n\r\n";
            ::send(client, head.data(), head.size(), MSG_NOSIGNAL);
            ::send(client, Body.data(), Stall ? std::min<size_t>(100, Body.size()) : Body.size(),
                   MSG_NOSIGNAL);
            while (Stall && !Stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::close(client);
        }
    }
};

LoopbackServer::LoopbackServer(std::vector<uint8_t> body, bool stall, int delayMs)
    : m(std::make_unique<State>()) {
    m->Body = std::move(body);
    m->Stall = stall;
    m->DelayMs = delayMs;
    m->Socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m->Socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m->Socket, 8) != 0 ||
        ::getsockname(m->Socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        ADD_FAILURE() << "cannot listen on 127.0.0.1";
    m->Port = ntohs(address.sin_port);
    m->Thread = std::thread([state = m.get()] { state->Serve(); });
}

LoopbackServer::~LoopbackServer() {
    m->Stop = true;
    m->Thread.join();
    ::close(m->Socket);
}

std::string LoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m->Port) + path;
}

int LoopbackServer::Requests() const {
    return m->Requests;
}

std::string LoopbackServer::LastPath() const {
    std::lock_guard<std::mutex> guard(m->Lock);
    return m->LastPath;
}

void LoopbackServer::Answer(const std::string& path, const std::string& status) {
    std::lock_guard<std::mutex> guard(m->Lock);
    m->Answers[path] = status;
}

namespace {

uint32_t Crc32(const std::vector<uint8_t>& data) {
    uint32_t crc = 0xFFFFFFFF;
    for (const uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

// A local header, or with an `offset` a central directory entry.
void ZipHeader(std::vector<uint8_t>& out, const ZipEntry& entry, int64_t offset = -1) {
    const bool central = offset >= 0;
    PutLe(out, central ? 0x02014b50 : 0x04034b50, 4);
    if (central)
        PutLe(out, 0x0314, 2); // made on Unix: the mode is in the external attributes
    PutLe(out, 20, 2);
    PutLe(out, 0, 8); // flags, stored, time, date
    PutLe(out, Crc32(entry.Data), 4);
    PutLe(out, entry.Data.size(), 4);
    PutLe(out, entry.Data.size(), 4);
    PutLe(out, entry.Name.size(), 2);
    PutLe(out, 0, 2);
    if (central) {
        PutLe(out, 0, 6); // comment length, disk, internal attributes
        PutLe(out, uint64_t(entry.Mode) << 16, 4);
        PutLe(out, uint64_t(offset), 4);
    }
    out.insert(out.end(), entry.Name.begin(), entry.Name.end());
}

} // namespace

std::vector<uint8_t> StoredZip(const std::vector<ZipEntry>& entries) {
    std::vector<uint8_t> zip, directory;
    for (const ZipEntry& entry : entries) {
        ZipHeader(directory, entry, int64_t(zip.size()));
        ZipHeader(zip, entry);
        zip.insert(zip.end(), entry.Data.begin(), entry.Data.end());
    }
    const size_t start = zip.size();
    zip.insert(zip.end(), directory.begin(), directory.end());
    PutLe(zip, 0x06054b50, 4);
    PutLe(zip, 0, 4);
    PutLe(zip, entries.size() * 0x10001, 4); // entries on this disk and in all
    PutLe(zip, directory.size(), 4);
    PutLe(zip, start, 4);
    PutLe(zip, 0, 2);
    return zip;
}

} // namespace zrtest
