#include "tools/ZrToolsLogger.h"

#include "foundation/ZrFileSystem.h"
#include "foundation/ZrUtf.h"
#include "tools/ZrNoDestroy.h"
#include "tools/ZrToolsFiles.h"
#include "tools/ZrToolsPaths.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::u16string_view ViewOf(const char16_t* text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

// Continuation lines start with a tab so that every entry begins with its time stamp.
void AppendText(std::string& out, std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (c == '\n' || c == '\r')
            out += "\n\t";
        else
            out += c;
    }
}

} // namespace

ZrToolsLogger& ZrToolsLogger::Instance() {
    static ZrNoDestroy<ZrToolsLogger> logger;
    return logger.Value;
}

std::string ZrToolsLogger::FormatLine(const timespec& now, long threadId, uint32_t category,
                                      std::string_view scope, std::string_view text) {
    tm local{};
    const time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &local);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d [tid %ld] [%u] ",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000), threadId,
                  category);
    std::string line(stamp);
    if (!scope.empty()) {
        line += scope;
        line += ": ";
    }
    AppendText(line, text);
    line += '\n';
    return line;
}

ZrToolsLogger::Mode ZrToolsLogger::CurrentMode() {
    Mode mode = m_mode.load(std::memory_order_acquire);
    if (mode == Mode::Unknown) {
        Start();
        mode = m_mode.load(std::memory_order_acquire);
    }
    return mode;
}

void ZrToolsLogger::Start() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_mode.load() != Mode::Unknown)
        return;
    const char* setting = std::getenv("TESSARY_LOG");
    std::string choice = setting ? setting : "";
    for (char& c : choice)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Mode mode = Mode::File;
    if (choice == "off" || choice == "none" || choice == "0")
        mode = Mode::Off;
    else if (choice == "stderr")
        mode = Mode::Stderr;
    if (mode == Mode::File) {
        m_path = ZrToolsPaths::Get().LogFile();
        if (!OpenFile())
            mode = Mode::Off;
    }
    m_mode.store(mode, std::memory_order_release);
}

bool ZrToolsLogger::OpenFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!ZrFileSystem::MakeDirectories(ZrToolsFiles::FolderOf(m_path), nullptr))
        return false;
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return false;
    struct stat info;
    m_size = ::fstat(m_fd, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    return true;
}

// Another process may have rotated first: then our descriptor points at zr.log.1 and we only
// follow it to the new file.
void ZrToolsLogger::RotateIfNeeded() {
    struct stat ours, current;
    if (::fstat(m_fd, &ours) != 0)
        return;
    const bool replaced = ::stat(m_path.c_str(), &current) != 0 || current.st_ino != ours.st_ino ||
                          current.st_dev != ours.st_dev;
    if (!replaced && static_cast<uint64_t>(ours.st_size) < RotateBytes) {
        m_size = static_cast<uint64_t>(ours.st_size);
        return;
    }
    if (!replaced)
        ::rename(m_path.c_str(), (m_path + ".1").c_str());
    if (!OpenFile())
        m_mode.store(Mode::Off, std::memory_order_release);
}

bool ZrToolsLogger::IsEnabled(uint32_t) {
    return CurrentMode() != Mode::Off;
}

void ZrToolsLogger::Write(uint32_t category, const char16_t* scope, const char16_t* text) {
    if (CurrentMode() == Mode::Off)
        return;
    WriteUtf8(category, ZrUtf16ToUtf8(ViewOf(scope)), ZrUtf16ToUtf8(ViewOf(text)));
}

void ZrToolsLogger::WriteUtf8(uint32_t category, std::string_view scope, std::string_view text) {
    const Mode mode = CurrentMode();
    if (mode == Mode::Off)
        return;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::string line = FormatLine(now, static_cast<long>(::gettid()), category, scope, text);
    if (mode == Mode::Stderr) {
        ZrToolsFiles::WriteAll(STDERR_FILENO, line);
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd < 0)
        return;
    // One write() per line: O_APPEND keeps whole lines together across processes.
    if (::write(m_fd, line.data(), line.size()) > 0)
        m_size += line.size();
    if (m_size >= RotateBytes)
        RotateIfNeeded();
}

void ZrToolsLog(std::string_view scope, std::string_view text) {
    ZrToolsLogger::Instance().WriteUtf8(ZrLogCategoryTools, scope, text);
}
