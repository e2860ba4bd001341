// The window table: which options window each factory index shows.
#include "frame/ZrEncoderFactory.h"
#include "options/ApeEncoderOptionsWnd.h"
#include "options/DSDEncoderOptionsWnd.h"
#include "options/ExternalEncoderOptionsWnd.h"
#include "options/FlacEncoderOptionsWnd.h"
#include "options/Mp3EncoderOptionsWnd.h"
#include "options/MpcEncoderOptionsWnd.h"
#include "options/OggEncoderOptionsWnd.h"
#include "options/WaveAiffPluginConfigDlg.h"
#include "options/WmaEncoderOptionsWnd.h"
#include "options/WvEncoderOptionsWnd.h"

#include <array>

namespace {

using WindowRunner = bool (*)(ZrEncoderBase&);

template <typename Window>
bool RunEncoderWindow(ZrEncoderBase& encoder) {
    return ZrEncoderOptionsWnd::Show<Window>(&encoder);
}

// The WAV window edits a host setting, not the encoder's, and answers whether OK closed it.
bool RunWaveWindow(ZrEncoderBase&) {
    return CWaveAiffPluginConfigDlg::Show();
}

constexpr std::array<WindowRunner, ZrEncoderCount> MakeWindowTable() {
    std::array<WindowRunner, ZrEncoderCount> table{};
    table[ZrEncoderIndex::Ape] = &RunEncoderWindow<CApeEncoderOptionsWnd>;
    table[ZrEncoderIndex::Ogg] = &RunEncoderWindow<COggEncoderOptionsWnd>;
    table[ZrEncoderIndex::Wav] = &RunWaveWindow;
    table[ZrEncoderIndex::Wma] = &RunEncoderWindow<CWmaEncoderOptionsWnd>;
    table[ZrEncoderIndex::Mp3] = &RunEncoderWindow<CMp3EncoderOptionsWnd>;
    table[ZrEncoderIndex::External] = &RunEncoderWindow<CExternalEncoderOptionsWnd>;
    table[ZrEncoderIndex::Flac] = &RunEncoderWindow<CFlacEncoderOptionsWnd>;
    table[ZrEncoderIndex::Mpc] = &RunEncoderWindow<CMpcEncoderOptionsWnd>;
    table[ZrEncoderIndex::Wv] = &RunEncoderWindow<CWvEncoderOptionsWnd>;
    table[ZrEncoderIndex::Dsd] = &RunEncoderWindow<CDSDEncoderOptionsWnd>;
    return table;
}

constexpr std::array<WindowRunner, ZrEncoderCount> WindowTable = MakeWindowTable();

} // namespace

bool ZrShowOptionsWindow(int32_t index, ZrEncoderBase& encoder) {
    if (index < 0 || index >= ZrEncoderCount || !WindowTable[index])
        return false;
    return WindowTable[index](encoder);
}
