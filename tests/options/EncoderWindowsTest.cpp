// Each encoder's window over its real encoder: what it shows, what OK writes.
#include "codecs/ape/ApeEncoder.h"
#include "codecs/dsd/DSDEncoderPlugin.h"
#include "codecs/flac/FlacEncoder.h"
#include "codecs/wavpack/WvEncoder.h"
#include "codecs/wma/WmaEncoder.h"
#include "external/ExternalEncoder.h"
#include "external/Mp3Encoder.h"
#include "external/MpcEncoder.h"
#include "external/OggEncoder.h"
#include "frame/ZrEncoderFactory.h"
#include "options/ApeEncoderOptionsWnd.h"
#include "options/DSDEncoderOptionsWnd.h"
#include "options/ExternalEncoderOptionsWnd.h"
#include "options/FlacEncoderOptionsWnd.h"
#include "options/Mp3EncoderOptionsWnd.h"
#include "options/MpcEncoderOptionsWnd.h"
#include "options/OggEncoderOptionsWnd.h"
#include "options/WmaEncoderOptionsWnd.h"
#include "options/WvEncoderOptionsWnd.h"
#include "support/TestSupport.h"

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using zrtest::Property;

// The shown controls as "kind:text" lines, with items and states, for comparing whole windows.
std::vector<std::string> Describe(ZrPopupWnd& w) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < w.ControlCount(); ++i) {
        std::string line =
            std::to_string(static_cast<int>(w.Kind(i))) + ":" + ZrString(w.Text(i)).ToUtf8();
        if (w.Kind(i) == ZrControlKind::CheckBox || w.Kind(i) == ZrControlKind::RadioButton)
            line += w.Checked(i) ? " [x]" : " [ ]";
        if (w.Kind(i) == ZrControlKind::DropDown) {
            line += " {";
            for (int32_t item = 0; item < w.ItemCount(i); ++item)
                line += (item ? "|" : "") + ZrString(w.ItemText(i, item)).ToUtf8();
            line += "} = " + std::to_string(w.Selected(i));
        }
        if (w.Kind(i) == ZrControlKind::Edit)
            line += " [" + ZrString(w.EditText(i)).ToUtf8() + "]";
        if (!w.Enabled(i))
            line += " (disabled)";
        out.push_back(line);
    }
    return out;
}

int32_t Find(ZrPopupWnd& w, const char16_t* text) {
    for (int32_t i = 0; i < w.ControlCount(); ++i)
        if (std::u16string_view(w.Text(i)) == text)
            return i;
    ADD_FAILURE() << "no control " << ZrString(text);
    return -1;
}

// A list takes the value as its selection, a box as checked or not, an edit field as its text.
void Change(ZrPopupWnd& w, const char16_t* text, const std::string& value) {
    const int32_t i = Find(w, text);
    if (w.Kind(i) == ZrControlKind::Edit)
        w.SetEditText(i, ZrString::FromUtf8(value).c_str());
    else if (w.Kind(i) == ZrControlKind::DropDown)
        w.SetSelected(i, std::stoi(value));
    else
        w.SetChecked(i, std::stoi(value) != 0);
}

template <class Window, class Encoder>
std::unique_ptr<ZrPopupWnd> Open(IZrEncoder& encoder) {
    auto window = std::make_unique<Window>(static_cast<Encoder*>(&encoder));
    window->Create();
    return window;
}

struct WindowCase {
    IZrEncoder* (*Create)(IZrEncoderCallback*);
    std::unique_ptr<ZrPopupWnd> (*OpenWindow)(IZrEncoder&);
    const char16_t* Settings; // given to the encoder first; null: never set
    const char* Title;
    int32_t Width;
    const std::vector<std::string>* Shown; // null: not compared
    const char* Changes; // "control text=value|...": a list's selection, a box's check, a text
    const char* Written; // after OK
};

const std::vector<std::string> WvShown = {
    "1:Open audio codec facilitating both loseless compression and a unique hybrid compression "
    "mode. See https://www.wavpack.com",
    "0:Compression",
    "1:Type",
    "4:Lossless [x]",
    "4:Hybrid [ ]",
    "5:Quality {Fast|Normal (recommended)|High|Very High (not recommended for most uses)} = 1",
    "5:Extra Encode Processing {0|1|2|3|4|5|6} = 0",
    "0:Options for Hybrid Encoding",
    "1:Correction File",
    "3:Create Correction File [x] (disabled)",
    "5:Target Bitrate {32|64|96|128|160|192|256|320|384|512|640|768|1024|1280|1536|2048|2560} "
    "= 6 (disabled)"};
const std::vector<std::string> FlacShown = {
    "0:Compression Level",
    "2:All compression levels offer lossless, bit-perfect encoding.  Higher numbers make "
    "smaller files, but take longer to encode and decode.",
    "5: {0|1|2|3|4|5|6 (recommended)|7|8} = 8",
    "0:Encoding Options",
    "3:Verify encoding [ ]",
    "3:Add 4k padding block [x]",
    "3:Add seek table (if possible) [ ]",
    "3:Use Ogg as transport layer (*.ogg) [ ]"};
const std::vector<std::string> DsdShown = {
    "2:Direct Stream Digital (DSD) is a high-quality method for representing sound.\r\n\r\n"
    "DSD uses a one bit delta-sigma encoded signal, stored at a sample rate of 2.8 or 5.6 "
    "MHz.\r\n\r\nEncoding is done to a DSF file, which offers full tagging support.",
    "0:Sample Rate",
    "5: {DSD (64fs / 2.8 MHz)|Double DSD (128fs / 5.6 MHz)|Quad DSD (256fs / 11.2 MHz)|Oct "
    "DSD (512fs / 22.4 MHz)} = 2"};
const std::vector<std::string> ApeShown = {
    "1:Monkey's Audio 8.35 is a fast, free, lossless encoder.", "0:Compression Level",
    "2:All compression levels offer lossless, bit-perfect encoding.  Higher compression "
    "levels make smaller files, but take longer to encode and decode.",
    "5: {Fast|Normal (recommended)|High|Extra High (not recommended for most uses)} = 2"};

const std::vector<std::string> MpcShown = {
    "4:Normal [x]", "4:Custom [ ]",
    "2:Enter a custom command line that will be passed to the MPC encoder.",
    "5:Quality: {Thumb|Radio|Standard|Xtreme|Insane} = 2",
    "6:Command line: [--standard] (disabled)"};
const std::vector<std::string> OggShown = {
    "4:Normal [ ]", "4:Custom [x]",
    "2:Enter a custom command line that will be passed to the OGG encoder.",
    "5:Quality: {Low|Normal/Low|Normal|Normal/High|High} = 4 (disabled)", "6:Command line: [-q 6]"};

const auto Mpc = Open<CMpcEncoderOptionsWnd, CMpcEncoder>;
const auto Ogg = Open<COggEncoderOptionsWnd, COggEncoder>;
const std::vector<std::string> WmaShown = {
    "2:The VBR qualities are written at a constant bit rate, the one each quality gives on "
    "average: Low 128, Normal/Low 160, Normal 192, Normal/High 256 and High 320 kbps. Lossless "
    "mode cannot be written on this system.",
    "4:CBR Mode [ ]",
    "5: {48|64|96|128|160|192|256|320} = 5 (disabled)",
    "4:VBR Mode [x]",
    "5: {Low|Normal/Low|Normal|Normal/High|High} = 3",
    "4:Lossless Mode [ ]",
    "3:Enable Personal Rights Management [ ]"};

const auto Wma = Open<CWmaEncoderOptionsWnd, CWmaEncoder>;
const std::vector<std::string> Mp3Shown = {
    "4:VBR Encoding [x]",
    "2:This uses L.A.M.E., the highest quality MP3 encoder.  VBR modes provide the best "
    "trade-off between quality and space used.",
    "5:Target Quality: {Small Portable|High Quality Portable|Normal|High|Extreme} = 2",
    "4:CBR / ABR Encoding [ ]",
    "2:This uses L.A.M.E., the highest quality MP3 encoder.",
    "5:Target Bitrate: {32 kbps|64 kbps|96 kbps|128 kbps|160 kbps|192 kbps|256 kbps|320 kbps} = 4 "
    "(disabled)",
    "3:Restrict encoder to constant bitrate (CBR Encoding) [ ] (disabled)",
    "4:Faster CBR Encoding [ ]",
    "2:This uses Go-Go, one of the fastest MP3 encoders.  Quality is slightly lower than with "
    "the L.A.M.E. encoder.",
    "5:Target Bitrate: {64 kbps|96 kbps|128 kbps|160 kbps|192 kbps|256 kbps|320 kbps} = 3 "
    "(disabled)",
    "4:Custom Command Line Switches (advanced) [ ]",
    "6:Command Line: [-V 4 --vbr-new] (disabled)"};
const std::vector<std::string> ExternalShown = {
    "6:Filename: [/e]",
    "6:Parameters: [%IN %OUT]",
    "2:(use %IN for source file and %OUT for output file)",
    "6:Extension: [aac]",
    "2:mp3, ogg, aac",
    "3:Encoder supports long filenames [ ]",
    "3:Use source file as-is [ ]",
    "3:Hide command window [ ]",
    "6:Bitrate: [96]"};

const auto Wv = Open<CWvEncoderOptionsWnd, CWvEncoder>;
const auto Mp3 = Open<CMp3EncoderOptionsWnd, CMp3Encoder>;
const auto Flac = Open<CFlacEncoderOptionsWnd, CFlacEncoder>;

const WindowCase WindowCases[] = {
    // A disabled control ignores changes; choosing Hybrid enables the hybrid options.
    {CreateWvEncoder, Wv, u"", "WavPack", 365, &WvShown,
     "Create Correction File=0|Hybrid=1|Quality=3|Target Bitrate=9|Create Correction File=0|"
     "Extra Encode Processing=4",
     "Compression Type=Hybrid|Target Bitrate=512|Correction File=0|Compression=4096|"
     "Extra Encode Processing=4"},
    // Every key absent: only "Lossless" itself shows as lossless, and only 1 checks the box.
    {CreateWvEncoder, Wv, nullptr, "WavPack", 365, nullptr, "",
     "Compression Type=Hybrid|Target Bitrate=256|Correction File=0|Compression=0|"
     "Extra Encode Processing=0"},
    {CreateFlacEncoder, Flac, u"Quality=8|AddST=0", "FLAC Encoder", 385, &FlacShown,
     "=3|Use Ogg as transport layer (*.ogg)=1", "Quality=3|Verify=0|Ogg=1|AddPB=1|AddST=0"},
    // Absent keys show their defaults.
    {CreateFlacEncoder, Flac, nullptr, "FLAC Encoder", 385, nullptr, "Verify encoding=1",
     "Quality=6|Verify=1|Ogg=0|AddPB=0|AddST=0"},
    {CreateDsdEncoder, Open<CDSDEncoderOptionsWnd, CDSDEncoderPlugin>, u"SampleRate=11289600",
     "DSD", 365, &DsdShown, "=3", "SampleRate=22579200"},
    // The list of the chosen mode only is enabled.
    {CreateWmaEncoder, Wma, u"", "Windows Media", 340, &WmaShown,
     "CBR Mode=1|=2|Enable Personal Rights Management=1",
     "CBR Bitrate=2|VBR Bitrate=3|Mode=0|Security=1"},
    // Indices outside the tables select nothing and stay.
    {CreateWmaEncoder, Wma, u"Mode=2|CBR Bitrate=9|VBR Bitrate=-1", "Windows Media", 340, nullptr,
     "=3", "CBR Bitrate=9|VBR Bitrate=-1|Mode=2|Security=0"},
    // Each mode's fragment, rebuilt on every change.
    {CreateMp3Encoder, Mp3, u"", "MP3 Encoder", 385, &Mp3Shown,
     "CBR / ABR Encoding=1|Target Bitrate:=5|Restrict encoder to constant bitrate (CBR "
     "Encoding)=1",
     "Bitrate=192|ForceCBR=1|SpeedBitrate=160|CommandLine=lame.exe%20--preset%20cbr%20192|Mode=0|"
     "VBRQualityMode=2"},
    {CreateMp3Encoder, Mp3, u"", "MP3 Encoder", 385, nullptr,
     "CBR / ABR Encoding=1|Target Bitrate:=5",
     "Bitrate=192|ForceCBR=0|SpeedBitrate=160|CommandLine=lame.exe%20--preset%20192|Mode=0|"
     "VBRQualityMode=2"},
    {CreateMp3Encoder, Mp3, nullptr, "MP3 Encoder", 385, nullptr, "Target Quality:=3",
     "Bitrate=160|ForceCBR=0|SpeedBitrate=160|CommandLine=-V%202%20--vbr-new|Mode=1|VBRQualityMode="
     "3"},
    // Opening shows the stored line as it is; Go-Go's list keeps its stored rate.
    {CreateMp3Encoder, Mp3,
     u"Mode=0|SpeedBitrate=96|CommandLine=lame.exe%20--preset%20cbr%20128%20--id3v1-only",
     "MP3 Encoder", 385, nullptr, "",
     "Bitrate=160|ForceCBR=0|SpeedBitrate=96|CommandLine=lame.exe%20--preset%20cbr%20128%20--id3v1-"
     "only|Mode=0|VBRQualityMode=2"},
    {CreateMp3Encoder, Mp3, u"Mode=0|SpeedBitrate=96", "MP3 Encoder", 385, nullptr,
     "Faster CBR Encoding=1",
     "Bitrate=160|ForceCBR=0|SpeedBitrate=96|CommandLine=gogo.exe%20-b%2096|Mode=3|VBRQualityMode="
     "2"},
    // An edited VBR line opens as a custom line.
    {CreateMp3Encoder, Mp3, u"CommandLine=-V%202%20--vbr-new%20", "MP3 Encoder", 385, nullptr, "",
     "Bitrate=160|ForceCBR=0|SpeedBitrate=160|CommandLine=-V%202%20--vbr-new%20|Mode=2|"
     "VBRQualityMode=2"},
    {CreateExternalEncoder, Open<CExternalEncoderOptionsWnd, CExternalEncoder>,
     u"Program Path=/e|Program Parameters=%IN %OUT|Target File Extension=aac|Bitrate=96",
     "External Encoder", 585, &ExternalShown, "Hide command window=1",
     "Support Long Filenames=0|Use source file as-is=0|Hide Command window=1|Bitrate=96|"
     "Target File Extension=aac|Program Path=%2Fe|Program Parameters=%25IN%20%25OUT"},
    {CreateApeEncoder, Open<CApeEncoderOptionsWnd, CApeEncoder>, u"Compression=3000",
     "Monkey's Audio (APE)", 365, &ApeShown, "=3", "Compression=4000"},
    // A known program fills its template; an unknown one leaves the parameters alone.
    {CreateExternalEncoder, Open<CExternalEncoderOptionsWnd, CExternalEncoder>, nullptr,
     "External Encoder", 585, nullptr,
     "Filename:=/opt/GoGo/lame-gogo.exe|Filename:=/usr/bin/oggenc|Bitrate:=160",
     "Support Long Filenames=1|Use source file as-is=0|Hide Command window=0|Bitrate=160|"
     "Target File Extension=mp3|Program Path=%2Fusr%2Fbin%2Foggenc|"
     "Program Parameters=%25IN%20%25OUT%20-b%20128%20-nopsy"},
    // Only the chosen mode's control takes changes; a quality outside the table shows and
    // saves as the default row.
    {CreateMpcEncoder, Mpc, u"Quality=9", "Musepack (MPC)", 295, &MpcShown,
     "Custom=1|Quality:=0|Command line:=--xtreme --verbose",
     "Quality=2|Command Line=--xtreme%20--verbose|Mode=1"},
    {CreateOggEncoder, Ogg, u"Mode=1|Quality=4|Command Line=-q 6", "Ogg Vorbis", 295, &OggShown,
     "Normal=1|Command line:=-q 1|Quality:=1", "Quality=1|Command Line=-q%206|Mode=0"},
    {CreateOggEncoder, Ogg, nullptr, "Ogg Vorbis", 295, nullptr, "",
     "Quality=2|Command Line=-q%204.99|Mode=0"},
};

TEST(EncoderWindows, ShowTheSettingsAndOkWritesThem) {
    for (const WindowCase& c : WindowCases) {
        SCOPED_TRACE(std::string(c.Title) + (c.Settings ? "" : ", never set"));
        std::unique_ptr<IZrEncoder> encoder(c.Create(nullptr));
        if (c.Settings)
            encoder->SetProperty(u"Settings", c.Settings);
        const std::unique_ptr<ZrPopupWnd> window = c.OpenWindow(*encoder);
        EXPECT_EQ(ZrString(window->Title()).ToUtf8(), c.Title);
        EXPECT_EQ(window->Width(), c.Width);
        EXPECT_EQ(std::u16string_view(window->OkText()), u"OK");
        if (c.Shown) {
            EXPECT_EQ(Describe(*window), *c.Shown);
        }
        std::istringstream changes(c.Changes);
        for (std::string change; std::getline(changes, change, '|');) {
            const size_t at = change.rfind('=');
            Change(*window, ZrString::FromUtf8(change.substr(0, at)).c_str(),
                   change.substr(at + 1));
        }
        ASSERT_TRUE(window->OnOkPressed());
        EXPECT_EQ(window->Result(), ZrModalOk);
        EXPECT_EQ(Property(*encoder, u"Settings"), c.Written);
    }
}

// OK with an empty field warns and stores nothing.
TEST(EncoderWindows, ExternalRefusesEmptyFields) {
    CExternalEncoder encoder(nullptr);
    CExternalEncoderOptionsWnd window(&encoder);
    window.Create();
    zrtest::LogCapture log;
    ASSERT_FALSE(window.OnOkPressed());
    EXPECT_EQ(window.Result(), 0);
    EXPECT_EQ(log.Lines(),
              std::vector<std::string>{"ZrMessageBox: Warning: External encoder path and "
                                       "parameters cannot be empty."});
    EXPECT_EQ(Property(encoder, u"Settings"), "");
}

TEST(EncoderWindows, CancelWritesNothingAndBadIndicesAreIgnored) {
    CWvEncoder encoder(nullptr);
    CWvEncoderOptionsWnd window(&encoder);
    window.Create();
    EXPECT_EQ(std::u16string_view(window.CancelText()), u"Cancel");
    window.SetChecked(Find(window, u"Hybrid"), true);
    for (int32_t bad : {-1, window.ControlCount()}) {
        EXPECT_EQ(std::u16string_view(window.Text(bad)), u"");
        EXPECT_FALSE(window.Enabled(bad));
        EXPECT_EQ(window.Selected(bad), -1);
        window.SetChecked(bad, true);
        window.SetSelected(bad, 3);
        window.SetEditText(bad, u"x");
    }
    const int32_t quality = Find(window, u"Quality");
    window.SetSelected(quality, 99); // out of range: nothing selected
    EXPECT_EQ(window.Selected(quality), -1);
    window.OnCancelPressed();
    EXPECT_EQ(window.Result(), ZrModalCancel);
    EXPECT_EQ(Property(encoder, u"Settings"), "");

    // Without a host the window closes as Cancel and Options still answers true.
    CFlacEncoder flac(nullptr);
    EXPECT_TRUE(flac.Options());
    EXPECT_EQ(Property(flac, u"Settings"), "");
}

} // namespace
