// A small plug-in library for the host-side tests: its encoders are file encoders that report
// through the host callback from a thread of their own, as a user-defined encoder does.
//   0  copies the host's WAV file to the destination, reporting 50 and 100 percent, then finished
//   1  reports failed with "disk on fire"
//   2  runs until Cancel, then reports failed with "Canceled"
//   3  reports finished without writing anything
// Every encoder keeps one setting, "Level" (default 5), so that settings texts can be followed.
#include "frame/ZrEncoderBase.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

namespace {

class CFakeFileEncoder final : public ZrEncoderBase {
public:
    CFakeFileEncoder(IZrEncoderCallback* callback, int mode)
        : ZrEncoderBase(callback), m_mode(mode) {}
    ~CFakeFileEncoder() override {
        m_stop = true;
        if (m_worker.joinable())
            m_worker.join();
    }

    bool EncodeFile() override {
        if (m_worker.joinable())
            return false;
        m_worker = std::thread([this] { Work(); });
        return true;
    }
    bool Cancel() override {
        m_stop = true;
        return true;
    }
    ZrString& GetDisplayName(ZrString& out) override { return out = u"Fake File Encoder"; }
    ZrString& GetExtension(ZrString& out) override { return out = u"fake"; }
    int32_t GetEstimatedBitrate() override { return 1000 + m_mode; } // tells the index
    bool IsWavFileInput() override { return true; }
    bool IsBufferInput() override { return false; }
    void SaveSettings() override { Settings.SetInt(u"Level", 5); }

private:
    void Work() {
        if (m_mode == 0) {
            std::ifstream in(SourceFilename.ToUtf8(), std::ios::binary);
            std::ofstream(DestinationFilename.ToUtf8(), std::ios::binary) << in.rdbuf();
        }
        while (m_mode == 2 && !m_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        IZrEncoderCallback* host = HostCallback;
        if (!host)
            return;
        if (m_mode == 0) {
            host->OnEncoderProgress(this, 50);
            host->OnEncoderProgress(this, 100);
        }
        if (m_mode == 1)
            host->OnEncoderFailed(this, 5, u"disk on fire");
        else if (m_mode == 2)
            host->OnEncoderFailed(this, -1, u"Canceled");
        else
            host->OnEncoderFinished(this, 0);
    }

    int m_mode;
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
};

} // namespace

extern "C" __attribute__((visibility("default"))) IZrEncoder*
CreateEncoder(int32_t index, IZrEncoderCallback* callback) {
    if (index < 0 || index > 3)
        return nullptr;
    return new CFakeFileEncoder(callback, index);
}
