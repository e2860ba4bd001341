#include "frame/TestEncoders.h"
#include "options/ZrEncoderOptionsWnd.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// A window in the shape of a real encoder's: a level list, check boxes, and one control that
// only makes sense while another is checked.
class TestOptionsWnd : public ZrEncoderOptionsWnd {
public:
    using ZrEncoderOptionsWnd::ZrEncoderOptionsWnd;

    int32_t GetWidth() override { return ScaleLength(ZrOptionsWidth::Flac); }

    void CreateControls() override {
        AddHeading(u"Compression Level");
        Level = AddComboBox(u"Level");
        for (int i = 0; i <= 8; ++i) {
            const ZrString n = ZrString::FromInt(i);
            Level->AddItem(i == 6 ? n + u" (recommended)" : n, n);
        }
        Level->SelectValue(ZrString::FromInt(FiveKeyTestEncoder::Quality.Get(Settings())));
        AddHeading(u"Encoding Options");
        Verify = AddCheckBox(u"Verify encoding");
        Verify->SetChecked(FiveKeyTestEncoder::Verify.Get(Settings()) != 0);
        Ogg = AddCheckBox(u"Use Ogg as transport layer (*.ogg)");
        Ogg->SetChecked(FiveKeyTestEncoder::Ogg.Get(Settings()) != 0);
        Padding = AddCheckBox(u"Add 4k padding block");
        Padding->SetChecked(FiveKeyTestEncoder::AddPB.Get(Settings()) != 0);
    }
    void UpdateControls() override { Padding->Enable(!Ogg->IsChecked()); }
    void OnOK() override {
        FiveKeyTestEncoder::Quality.Set(Settings(), ZrParse(Level->SelectedValue(u"6")));
        FiveKeyTestEncoder::Verify.Set(Settings(), Verify->IsChecked());
        FiveKeyTestEncoder::Ogg.Set(Settings(), Ogg->IsChecked());
        FiveKeyTestEncoder::AddPB.Set(Settings(), Padding->IsChecked());
        Close(ZrModalOk);
    }
    static int32_t ZrParse(const ZrString& s) { return s.IsEmpty() ? 0 : s[0] - u'0'; }

    int32_t Index(ZrControl* control) {
        for (int32_t i = 0; i < ControlCount(); ++i)
            if (ControlAt(i) == control)
                return i;
        return -1;
    }

    ZrComboBox* Level = nullptr;
    ZrCheckBox* Verify = nullptr;
    ZrCheckBox* Ogg = nullptr;
    ZrCheckBox* Padding = nullptr;
};

TEST(OptionsFrame, CancelAfterChangesLeavesTheSettingsAsTheyWere) {
    FiveKeyTestEncoder encoder;
    encoder.SetProperty(u"Settings", u"Quality=3|Extra=1");
    const ZrString before = encoder.Property(u"Settings");
    TestOptionsWnd window(&encoder);
    window.Create();
    window.SetSelected(window.Index(window.Level), 8);
    window.SetChecked(window.Index(window.Verify), true);
    window.OnCancelPressed();
    EXPECT_EQ(window.Result(), ZrModalCancel);
    EXPECT_EQ(encoder.Property(u"Settings"), before);
}

TEST(OptionsFrame, OkWritesEveryShownKeyChangedOrNot) {
    FiveKeyTestEncoder encoder; // never given settings: the map is empty
    TestOptionsWnd window(&encoder);
    window.Create();
    // Absent keys load as their values-when-absent.
    EXPECT_EQ(window.Level->Selected(), 0);
    ASSERT_TRUE(window.OnOkPressed());
    EXPECT_EQ(window.Result(), ZrModalOk);
    EXPECT_EQ(encoder.Property(u"Settings"), u"Quality=0|Verify=0|Ogg=0|AddPB=0");
}

TEST(OptionsFrame, ChangesReachTheSettingsOnOk) {
    FiveKeyTestEncoder encoder;
    encoder.SetProperty(u"Settings", u"");
    TestOptionsWnd window(&encoder);
    window.Create();
    EXPECT_EQ(std::u16string_view(window.ItemText(window.Index(window.Level), 6)),
              u"6 (recommended)");
    EXPECT_EQ(window.Selected(window.Index(window.Level)), 6);
    window.SetSelected(window.Index(window.Level), 8);
    window.SetChecked(window.Index(window.Verify), true);
    ASSERT_TRUE(window.OnOkPressed());
    EXPECT_EQ(encoder.Property(u"Settings"), u"Quality=8|Verify=1|Ogg=0|AddPB=1|AddST=1");
}

TEST(OptionsFrame, UpdateControlsRunsAfterEveryChange) {
    FiveKeyTestEncoder encoder;
    encoder.SetProperty(u"Settings", u"");
    TestOptionsWnd window(&encoder);
    window.Create();
    const int32_t padding = window.Index(window.Padding);
    EXPECT_TRUE(window.Enabled(padding));
    window.SetChecked(window.Index(window.Ogg), true);
    EXPECT_FALSE(window.Enabled(padding));
    // A disabled control ignores changes.
    window.SetChecked(padding, false);
    EXPECT_TRUE(window.Checked(padding));
    window.SetChecked(window.Index(window.Ogg), false);
    EXPECT_TRUE(window.Enabled(padding));
}

TEST(OptionsFrame, TitleWidthAndButtons) {
    FiveKeyTestEncoder encoder;
    TestOptionsWnd window(&encoder);
    EXPECT_EQ(std::u16string_view(window.Title()), u"Five Key Encoder");
    EXPECT_EQ(window.Width(), 385); // unscaled without a host
    EXPECT_EQ(std::u16string_view(window.OkText()), u"OK");
    EXPECT_EQ(std::u16string_view(window.CancelText()), u"Cancel");
    ZrEncoderOptionsWnd plain(&encoder);
    EXPECT_EQ(plain.GetWidth(), ZrOptionsWidth::Encoder);
    ZrEncoderOptionsWnd none(nullptr);
    EXPECT_EQ(none.GetTitle(), u"");
}

TEST(OptionsFrame, WithoutAHostAWindowClosesAsCancel) {
    FiveKeyTestEncoder encoder;
    encoder.SetProperty(u"Settings", u"Quality=2");
    const ZrString before = encoder.Property(u"Settings");
    EXPECT_TRUE(ZrEncoderOptionsWnd::Show<TestOptionsWnd>(&encoder)); // Options answers true
    EXPECT_EQ(encoder.Property(u"Settings"), before);
}

TEST(OptionsFrame, FormModelIsSafeWithBadIndices) {
    FiveKeyTestEncoder encoder;
    TestOptionsWnd window(&encoder);
    window.Create();
    for (int32_t bad : {-1, window.ControlCount(), 1000}) {
        EXPECT_EQ(std::u16string_view(window.Text(bad)), u"");
        EXPECT_FALSE(window.Enabled(bad));
        EXPECT_EQ(window.Selected(bad), -1);
        window.SetChecked(bad, true);
        window.SetSelected(bad, 3);
        window.SetEditText(bad, u"x");
    }
    window.SetSelected(window.Index(window.Level), 99); // out of range: nothing selected
    EXPECT_EQ(window.Selected(window.Index(window.Level)), -1);
    EXPECT_EQ(std::u16string_view(window.ItemText(window.Index(window.Level), 99)), u"");
}

} // namespace
