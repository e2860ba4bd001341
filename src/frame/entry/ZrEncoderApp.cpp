#include "frame/entry/ZrEncoderApp.h"

#include "foundation/ZrLog.h"
#include "foundation/ZrStringManager.h"
#include "frame/ZrHostLibraries.h"
#include "frame/ZrHostLibraryManager.h"
#include "tessary/ZrUIService.h"

#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <locale.h>
#include <string>
#include <unistd.h>

namespace {

std::vector<ZrString> ReadCommandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<ZrString> arguments;
    size_t start = 0;
    while (start < all.size()) {
        const size_t end = all.find('\0', start);
        const size_t stop = end == std::string::npos ? all.size() : end;
        arguments.push_back(ZrString::FromUtf8(std::string_view(all).substr(start, stop - start)));
        start = stop + 1;
    }
    return arguments;
}

// The string manager's tables under the user's locale. The process-wide locale belongs to the
// host (its number printing and reading depend on it), so the user's locale is made current for
// this thread only while the tables are built.
void RebuildTablesUnderUserLocale() {
    locale_t user = ::newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
    if (!user) {
        ZrStringManager::Instance().RebuildTables(); // an unknown locale name: the C tables
        return;
    }
    const locale_t previous = ::uselocale(user);
    ZrStringManager::Instance().RebuildTables();
    ::uselocale(previous);
    ::freelocale(user);
}

IZrLogger* HostLogger() {
    ZrTools* tools = GetTools(false);
    return tools ? tools->GetLogger(0) : nullptr;
}

// On standard error always, and through the host's user interface as well when one is up.
void ShowCriticalError(const ZrString& text) {
    const std::string message = "Critical Error\n" + text.ToUtf8() + "\n";
    size_t done = 0;
    while (done < message.size()) {
        const ssize_t n = ::write(STDERR_FILENO, message.data() + done, message.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (ZrTools* tools = GetTools(false))
        if (IZrUIService* ui = tools->GetUIService(1))
            ui->MessageBox(u"Critical Error", text.c_str(), ZrMessageOk);
}

} // namespace

bool ZrDllApp::DllEntry(void* module, Reason reason) {
    if (reason == Reason::ProcessAttach) {
        if (m_attachCount.fetch_add(1) + 1 != 1)
            return true;
        m_module = module;
        m_arguments = ReadCommandLine();
        if (!InitInstance()) {
            ExitInstance();
            return false;
        }
        return true;
    }
    if (m_attachCount.fetch_sub(1) - 1 == 0)
        ExitInstance();
    return true;
}

ZrString ZrEncoderApp::CriticalErrorText(const ZrString& modulePath, const ZrString& reason) {
    return ZrString::Format("The following module has failed to load:\r\n%s\r\n\r\nIt has "
                            "reported the following error:\r\n\r\n%s\r\n\r\nPlease reinstall the "
                            "latest version of the program.",
                            modulePath.ToUtf8().c_str(), reason.ToUtf8().c_str());
}

bool ZrEncoderApp::InitInstance() {
    RebuildTablesUnderUserLocale();
    ZrSetHostModule(Module());
    ZrSetLoggerProvider(&HostLogger);
    return LoadProductInfo();
}

bool ZrEncoderApp::LoadProductInfo() {
    if (ZrTools* tools = GetTools(false); tools && tools->GetProductInfo(false))
        return true;

    ZrString reason;
    if (ZrTools* tools = GetTools(true)) {
        IZrProductInfo* info = tools->GetProductInfo(true);
        ZrSysString errorText = nullptr;
        if (info && info->Load(u"", &errorText)) {
            SysFreeString(errorText);
            tools->OnProductInfoLoaded(0);
            return true;
        }
        if (errorText)
            reason = ZrTakeSysString(errorText);
        if (reason.IsEmpty())
            reason = u"Unknown error loading product information";
    } else {
        reason = u"Failed to load ZrTools";
    }
    ShowCriticalError(CriticalErrorText(ZrModuleFileName(), reason));
    return false;
}

bool ZrEncoderApp::ExitInstance() {
    SetReady(false);
    ZrSetLoggerProvider(nullptr);
    ZrReleaseHostLibraries();
    return true;
}

// --- Process attach and detach ---------------------------------------------------------------

namespace {

ZrEncoderApp theApp;

void* ThisModuleBase() {
    Dl_info info{};
    return ::dladdr(reinterpret_cast<void*>(&ThisModuleBase), &info) ? info.dli_fbase : nullptr;
}

// The library's constructor and destructor. A C++ static object rather than an ELF destructor:
// at process exit static objects go in the reverse order of their construction, and this one is
// complete only after the tools library has built its own, so shutdown still finds them intact.
struct ModuleLifetime {
    ModuleLifetime() {
        theApp.SetReady(theApp.DllEntry(ThisModuleBase(), ZrDllApp::Reason::ProcessAttach));
    }
    ~ModuleLifetime() { theApp.DllEntry(ThisModuleBase(), ZrDllApp::Reason::ProcessDetach); }
    ModuleLifetime(const ModuleLifetime&) = delete;
    ModuleLifetime& operator=(const ModuleLifetime&) = delete;
};

ModuleLifetime lifetime;

} // namespace

ZrEncoderApp& ZrEncoderApp::Instance() {
    return theApp;
}
