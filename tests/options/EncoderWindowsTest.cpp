// Each encoder's window over its real encoder: what it shows, what OK writes.
#include "codecs/ape/ApeEncoder.h"
#include "codecs/dsd/DSDEncoderPlugin.h"
#include "codecs/flac/FlacEncoder.h"
#include "codecs/wavpack/WvEncoder.h"
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrHostLibraries.h"
#include "options/ApeEncoderOptionsWnd.h"
#include "options/DSDEncoderOptionsWnd.h"
#include "options/FlacEncoderOptionsWnd.h"
#include "options/WvEncoderOptionsWnd.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

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

std::string Settings(IZrEncoder& e) {
    return zrtest::Property(e, u"Settings");
}

TEST(WavPackWindow, ShowsTheSettingsAndWritesThemBack) {
    CWvEncoder encoder(nullptr);
    encoder.SetProperty(u"Settings", u"");
    CWvEncoderOptionsWnd window(&encoder);
    window.Create();
    EXPECT_EQ(std::u16string_view(window.Title()), u"WavPack");
    EXPECT_EQ(window.Width(), 365);
    EXPECT_EQ(std::u16string_view(window.OkText()), u"OK");
    EXPECT_EQ(std::u16string_view(window.CancelText()), u"Cancel");
    const std::vector<std::string> expected = {
        "1:Open audio codec facilitating both loseless compression and a unique hybrid "
        "compression mode. See https://www.wavpack.com",
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
        "= 6 (disabled)",
    };
    EXPECT_EQ(Describe(window), expected);

    // A disabled control ignores changes; choosing Hybrid enables the hybrid options.
    const int32_t correction = Find(window, u"Create Correction File");
    window.SetChecked(correction, false);
    EXPECT_TRUE(window.Checked(correction));
    window.SetChecked(Find(window, u"Hybrid"), true);
    EXPECT_TRUE(window.Enabled(Find(window, u"Target Bitrate")));
    window.SetSelected(Find(window, u"Quality"), 3);
    window.SetSelected(Find(window, u"Target Bitrate"), 9);
    window.SetChecked(correction, false);
    window.SetSelected(Find(window, u"Extra Encode Processing"), 4);
    ASSERT_TRUE(window.OnOkPressed());
    EXPECT_EQ(window.Result(), ZrModalOk);
    EXPECT_EQ(Settings(encoder), "Compression Type=Hybrid|Target Bitrate=512|Correction File=0|"
                                 "Compression=4096|Extra Encode Processing=4");

    // Bad indices are ignored.
    for (int32_t bad : {-1, window.ControlCount(), 1000}) {
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
    EXPECT_EQ(std::u16string_view(window.ItemText(quality, 99)), u"");
}

TEST(WavPackWindow, OkOnAnEmptyMapWritesEveryKeyAndCancelWritesNone) {
    CWvEncoder encoder(nullptr); // settings never set: every key absent
    CWvEncoderOptionsWnd cancelled(&encoder);
    cancelled.Create();
    cancelled.SetChecked(Find(cancelled, u"Hybrid"), true);
    cancelled.OnCancelPressed();
    EXPECT_EQ(cancelled.Result(), ZrModalCancel);
    EXPECT_EQ(Settings(encoder), "");

    // Only "Lossless" itself shows as lossless, and only 1 checks the correction-file box.
    CWvEncoderOptionsWnd window(&encoder);
    window.Create();
    ASSERT_TRUE(window.OnOkPressed());
    EXPECT_EQ(Settings(encoder), "Compression Type=Hybrid|Target Bitrate=256|Correction File=0|"
                                 "Compression=0|Extra Encode Processing=0");
}

TEST(FlacWindow, ShowsTheLevelAndFourOptions) {
    CFlacEncoder encoder(nullptr);
    encoder.SetProperty(u"Settings", u"Quality=8|AddST=0");
    CFlacEncoderOptionsWnd window(&encoder);
    window.Create();
    EXPECT_EQ(std::u16string_view(window.Title()), u"FLAC Encoder");
    EXPECT_EQ(window.Width(), 385);
    const std::vector<std::string> expected = {
        "0:Compression Level",
        "2:All compression levels offer lossless, bit-perfect encoding.  Higher numbers make "
        "smaller files, but take longer to encode and decode.",
        "5: {0|1|2|3|4|5|6 (recommended)|7|8} = 8",
        "0:Encoding Options",
        "3:Verify encoding [ ]",
        "3:Add 4k padding block [x]",
        "3:Add seek table (if possible) [ ]",
        "3:Use Ogg as transport layer (*.ogg) [ ]",
    };
    EXPECT_EQ(Describe(window), expected);

    window.SetSelected(2, 3);
    window.SetChecked(Find(window, u"Use Ogg as transport layer (*.ogg)"), true);
    ASSERT_TRUE(window.OnOkPressed());
    EXPECT_EQ(Settings(encoder), "Quality=3|Verify=0|Ogg=1|AddPB=1|AddST=0");
    ZrString extension;
    EXPECT_EQ(encoder.GetExtension(extension), u"ogg");
}

TEST(FlacWindow, AbsentKeysShowTheirDefaultsAndNoHostMeansCancel) {
    CFlacEncoder encoder(nullptr); // never given settings
    CFlacEncoderOptionsWnd window(&encoder);
    window.Create();
    EXPECT_EQ(window.Selected(2), 6); // the level's default
    for (const char16_t* box : {u"Verify encoding", u"Add 4k padding block"})
        EXPECT_FALSE(window.Checked(Find(window, box)));
    // Without a host the window closes as Cancel and Options still answers true.
    EXPECT_TRUE(encoder.Options());
    EXPECT_EQ(Settings(encoder), "");
}

TEST(DsdWindow, OffersTheFourRates) {
    IZrEncoder* raw = CreateDsdEncoder(nullptr);
    std::unique_ptr<CDSDEncoderPlugin> encoder(static_cast<CDSDEncoderPlugin*>(raw));
    encoder->SetProperty(u"Settings", u"SampleRate=11289600");
    CDSDEncoderOptionsWnd window(encoder.get());
    window.Create();
    EXPECT_EQ(std::u16string_view(window.Title()), u"DSD");
    EXPECT_EQ(window.Width(), 365);
    const std::vector<std::string> expected = {
        "2:Direct Stream Digital (DSD) is a high-quality method for representing sound.\r\n\r\n"
        "DSD uses a one bit delta-sigma encoded signal, stored at a sample rate of 2.8 or 5.6 "
        "MHz.\r\n\r\nEncoding is done to a DSF file, which offers full tagging support.",
        "0:Sample Rate",
        "5: {DSD (64fs / 2.8 MHz)|Double DSD (128fs / 5.6 MHz)|Quad DSD (256fs / 11.2 MHz)|Oct "
        "DSD (512fs / 22.4 MHz)} = 2",
    };
    EXPECT_EQ(Describe(window), expected);
    window.SetSelected(2, 3);
    ASSERT_TRUE(window.OnOkPressed());
    EXPECT_EQ(Settings(*encoder), "SampleRate=22579200");
}

TEST(ApeWindow, OffersTheFourLevels) {
    std::unique_ptr<IZrEncoder> encoder(CreateApeEncoder(nullptr));
    auto* ape = static_cast<CApeEncoder*>(encoder.get());
    encoder->SetProperty(u"Settings", u"Compression=3000");
    CApeEncoderOptionsWnd window(ape);
    window.Create();
    EXPECT_EQ(std::u16string_view(window.Title()), u"Monkey's Audio (APE)");
    EXPECT_EQ(window.Width(), 365);
    const std::vector<std::string> expected = {
        "1:Monkey's Audio 8.35 is a fast, free, lossless encoder.",
        "0:Compression Level",
        "2:All compression levels offer lossless, bit-perfect encoding.  Higher compression "
        "levels make smaller files, but take longer to encode and decode.",
        "5: {Fast|Normal (recommended)|High|Extra High (not recommended for most uses)} = 2",
    };
    EXPECT_EQ(Describe(window), expected);
    window.SetSelected(3, 3);
    ASSERT_TRUE(window.OnOkPressed());
    EXPECT_EQ(Settings(*encoder), "Compression=4000");
}

} // namespace
