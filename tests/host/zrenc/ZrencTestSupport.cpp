#include "host/zrenc/ZrencTestSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zrtest {

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

} // namespace

fs::path ZrencProgram() {
    return BuildDir() / "bin" / "zrenc";
}

std::vector<uint8_t> WavBytes(const WavSpec& spec, std::vector<uint8_t>* pcm) {
    const std::vector<uint8_t> data = MakePcm(Signal::Music, spec.channels, spec.rate, spec.bits,
                                              spec.frames, spec.seed, spec.isFloat);
    const uint16_t align = static_cast<uint16_t>(spec.channels * spec.bits / 8);
    std::vector<uint8_t> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    Put32(out, static_cast<uint32_t>(36 + data.size()));
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, 16);
    Put16(out, spec.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
    Put16(out, spec.channels);
    Put32(out, spec.rate);
    Put32(out, spec.rate * align);
    Put16(out, align);
    Put16(out, spec.bits);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    if (pcm)
        *pcm = data;
    return out;
}

std::vector<uint8_t> MakeWav(const fs::path& path, const WavSpec& spec) {
    std::vector<uint8_t> pcm;
    WriteFile(path, WavBytes(spec, &pcm));
    return pcm;
}

std::vector<uint8_t> WavData(const fs::path& path) {
    std::vector<uint8_t> bytes = ReadFile(path);
    if (bytes.size() < 44)
        return {};
    return std::vector<uint8_t>(bytes.begin() + 44, bytes.end());
}

std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (!it->is_directory())
            names.push_back(fs::relative(it->path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

Background::Background(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const fs::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> envStrings(env);
    for (char** e = environ; *e; ++e)
        envStrings.emplace_back(*e); // the first of a name wins in getenv
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (std::string& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
}

Background::~Background() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void Background::Signal(int signo) {
    if (m_pid > 0)
        ::kill(m_pid, signo);
}

int Background::Wait(int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (m_pid > 0 && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

} // namespace zrtest
