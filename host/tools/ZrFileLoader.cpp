#include "tools/ZrFileLoader.h"

#include "foundation/ZrUtf.h"
#include "tools/ZrNoDestroy.h"
#include "tools/ZrToolsLibraries.h"
#include "tools/ZrToolsLogger.h"

#include <memory>
#include <mutex>
#include <string>

namespace {

constexpr int AbortCheckMs = 50;
constexpr long ConnectTimeoutSeconds = 30;
// A server that sends less than this many bytes a second for the whole period is given up.
constexpr long LowSpeedBytes = 1;
constexpr long LowSpeedSeconds = 60;

struct Transfer {
    IZrDataSink* Sink = nullptr;
    const std::atomic<int32_t>* Abort = nullptr;
    bool Refused = false; // the sink said no
};

bool Aborted(const Transfer& transfer) {
    return transfer.Abort && transfer.Abort->load() != 0;
}

size_t OnData(char* data, size_t, size_t size, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    if (Aborted(transfer))
        return CURL_WRITEFUNC_ERROR;
    if (size && !transfer.Sink->Write(data, size)) {
        transfer.Refused = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return size;
}

int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return Aborted(*static_cast<Transfer*>(context)) ? 1 : 0;
}

struct EasyFree {
    void operator()(CURL* easy) const { ZrToolsLibraries::Loaded().curl_easy_cleanup(easy); }
};
struct MultiFree {
    void operator()(CURLM* multi) const { ZrToolsLibraries::Loaded().curl_multi_cleanup(multi); }
};

bool GlobalInit(const ZrToolsLibraries& lib) {
    static std::once_flag once;
    static CURLcode result = CURLE_FAILED_INIT;
    std::call_once(once, [&lib] { result = lib.curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result == CURLE_OK;
}

// Runs the transfer in steps, so that the abort flag is seen even while the server is silent
// (curl's own progress calls can be a second apart then).
CURLcode Perform(const ZrToolsLibraries& lib, CURL* easy, const Transfer& transfer) {
    std::unique_ptr<CURLM, MultiFree> multi(lib.curl_multi_init());
    if (!multi || lib.curl_multi_add_handle(multi.get(), easy) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    CURLcode result = CURLE_OK;
    for (int running = 1; running;) {
        if (lib.curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (int left = 0; CURLMsg* message = lib.curl_multi_info_read(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                break;
            }
        }
        if (Aborted(transfer)) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (running &&
            lib.curl_multi_poll(multi.get(), nullptr, 0, AbortCheckMs, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    lib.curl_multi_remove_handle(multi.get(), easy);
    return result;
}

} // namespace

ZrFileLoader& ZrFileLoader::Instance() {
    static ZrNoDestroy<ZrFileLoader> loader;
    return loader.Value;
}

bool ZrFileLoader::Load(const char16_t* address, IZrDataSink* sink,
                        const std::atomic<int32_t>* abort, ZrSysString* errorText) {
    const std::string url = ZrUtf16ToUtf8(address ? address : u"");
    std::string why;
    Transfer transfer{sink, abort};
    std::unique_ptr<CURL, EasyFree> easy;
    const ZrToolsLibraries* lib = nullptr;
    if (url.empty() || !sink)
        why = "no address or no receiver was given";
    else if (!(lib = ZrToolsLibraries::Open(ZrToolsLibraries::Curl, &why))) {
        // why names the library
    } else if (!GlobalInit(*lib) || !(easy.reset(lib->curl_easy_init()), easy))
        why = "the transfer library could not be initialised";

    if (why.empty()) {
        char error[CURL_ERROR_SIZE] = {};
        CURL* e = easy.get();
        lib->curl_easy_setopt(e, CURLOPT_URL, url.c_str());
        lib->curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https,file");
        lib->curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        lib->curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        lib->curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
        lib->curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
        lib->curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        lib->curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
        lib->curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, LowSpeedBytes);
        lib->curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, LowSpeedSeconds);
        lib->curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error);
        lib->curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &OnData);
        lib->curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
        lib->curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        lib->curl_easy_setopt(e, CURLOPT_XFERINFODATA, &transfer);
        lib->curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        const CURLcode result = Perform(*lib, e, transfer);
        long status = 0;
        lib->curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
        if (result == CURLE_OK)
            return true;
        if (Aborted(transfer) || result == CURLE_ABORTED_BY_CALLBACK)
            why = "the transfer was cancelled";
        else if (transfer.Refused)
            why = "the received data could not be stored";
        else if (result == CURLE_HTTP_RETURNED_ERROR)
            why = "the server answered with HTTP status " + std::to_string(status);
        else
            why = error[0] ? error : lib->curl_easy_strerror(result);
    }
    ZrToolsLog("ZrFileLoader::Load", "Cannot load \"" + url + "\": " + why);
    if (errorText)
        *errorText = SysAllocString(ZrUtf8ToUtf16("Cannot load \"" + url + "\": " + why).c_str());
    return false;
}
