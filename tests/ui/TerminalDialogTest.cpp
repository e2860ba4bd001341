#include "foundation/ZrTextWidth.h"
#include "frame/TestEncoders.h"
#include "options/ZrEncoderOptionsWnd.h"
#include "support/TestSupport.h"
#include "ui/ZrTerminalDialog.h"

namespace {

class SampleWnd : public ZrEncoderOptionsWnd {
public:
    using ZrEncoderOptionsWnd::ZrEncoderOptionsWnd;
    void CreateControls() override {
        AddHeading(u"Compression Level");
        AddHelpText(u"All compression levels offer lossless, bit-perfect encoding.  Higher "
                    u"numbers make smaller files, but take longer to encode and decode.");
        Level = AddComboBox(u"");
        for (const char16_t* item : {u"0", u"1", u"2"})
            Level->AddItem(item, item);
        Level->Select(1);
        Ogg = AddCheckBox(u"Use Ogg");
        Padding = AddCheckBox(u"Add padding");
        Name = AddEdit(u"Name");
    }
    void UpdateControls() override { Padding->Enable(!Ogg->IsChecked()); }
    void OnOK() override {
        Settings().SetInt(u"Level", Level->Selected());
        Settings().SetInt(u"Ogg", Ogg->IsChecked());
        Settings().Set(u"Name", Name->GetText().View());
        Close(ZrModalOk);
    }
    ZrComboBox* Level = nullptr;
    ZrCheckBox* Ogg = nullptr;
    ZrCheckBox* Padding = nullptr;
    ZrEditBox* Name = nullptr;
};

ZrKeyEvent K(ZrKey key) {
    return ZrKeyEvent{key, {}};
}
ZrKeyEvent T(const char* text) {
    return ZrKeyEvent{ZrKey::Text, text};
}

struct Fixture {
    FiveKeyTestEncoder encoder;
    SampleWnd window{&encoder};
    Fixture() { window.Create(); }
};

TEST(TerminalDialog, DrawsABorderedBoxOfTheWindowWidth) {
    Fixture f;
    ZrTerminalDialog dialog(f.window, 200);
    EXPECT_EQ(dialog.Columns(), 365 / 8);
    const std::vector<std::string> lines = dialog.Render(false);
    ASSERT_GT(lines.size(), 8u);
    EXPECT_CONTAINS(lines[0], "Five Key Encoder");
    for (size_t i = 0; i + 1 < lines.size(); ++i) // every line but the key hint
        EXPECT_EQ(ZrTextColumns(lines[i]), ZrTextColumns(lines[0])) << lines[i];
    const std::string plain = dialog.RenderPlain();
    // The list has the focus; two spaces after a full stop are kept.
    for (const char* shown : {"> [ 1 ", "[ ] Use Ogg", "[ OK ]", "[ Cancel ]", "encoding.  Higher"})
        EXPECT_CONTAINS(plain, shown);
    EXPECT_EQ(ZrTerminalDialog(f.window, 30).Columns(), 28); // a narrow terminal shrinks the box
}

TEST(TerminalDialog, KeysChangeTheFormAndOkWrites) {
    Fixture f;
    ZrTerminalDialog dialog(f.window, 120);
    // The list: open it, move down, choose.
    dialog.Handle(K(ZrKey::Enter));
    EXPECT_CONTAINS(dialog.RenderPlain(), " > 1"); // the open list
    EXPECT_CONTAINS(dialog.RenderPlain(), "   2");
    dialog.Handle(K(ZrKey::Down));
    dialog.Handle(K(ZrKey::Enter));
    EXPECT_EQ(f.window.Level->Selected(), 2);
    dialog.Handle(K(ZrKey::Left)); // left and right change a list directly
    EXPECT_EQ(f.window.Level->Selected(), 1);
    // Next stop: the Ogg box; Space toggles it and the padding box goes dark.
    dialog.Handle(K(ZrKey::Tab));
    dialog.Handle(K(ZrKey::Space));
    EXPECT_TRUE(f.window.Ogg->IsChecked());
    EXPECT_FALSE(f.window.Padding->IsEnabled());
    // The disabled box is skipped: the next stop is the edit field; typing goes there.
    dialog.Handle(K(ZrKey::Down));
    dialog.Handle(T("\xC3\xA9"));
    dialog.Handle(T("t"));
    dialog.Handle(K(ZrKey::Space));
    dialog.Handle(T("x"));
    dialog.Handle(K(ZrKey::Backspace));
    EXPECT_EQ(f.window.Name->GetText(), u"\u00E9t ");
    // Enter leaves the field, Enter on OK closes.
    dialog.Handle(K(ZrKey::Enter));
    EXPECT_EQ(dialog.Handle(K(ZrKey::Enter)), ZrTerminalDialog::Outcome::Ok);
    EXPECT_EQ(f.window.Result(), ZrModalOk);
    EXPECT_EQ(f.encoder.SettingsMap().GetInt(u"Level", -1), 1);
    EXPECT_EQ(f.encoder.SettingsMap().GetInt(u"Ogg", -1), 1);
}

TEST(TerminalDialog, EscapeAndCtrlCCancelWithoutWriting) {
    for (ZrKey key : {ZrKey::Escape, ZrKey::Interrupt}) {
        Fixture f;
        ZrTerminalDialog dialog(f.window, 120);
        dialog.Handle(K(ZrKey::Tab));
        dialog.Handle(K(ZrKey::Space));
        EXPECT_EQ(dialog.Handle(K(key)), ZrTerminalDialog::Outcome::Cancel);
        EXPECT_EQ(f.window.Result(), ZrModalCancel);
        EXPECT_EQ(f.encoder.Property(u"Settings"), u"");
    }
    // Escape inside an open list only closes the list.
    Fixture f;
    ZrTerminalDialog dialog(f.window, 120);
    dialog.Handle(K(ZrKey::Enter));
    EXPECT_EQ(dialog.Handle(K(ZrKey::Escape)), ZrTerminalDialog::Outcome::Open);
    // Focus wraps from the first stop back to Cancel; left moves to OK.
    dialog.Handle(K(ZrKey::Up));
    EXPECT_CONTAINS(dialog.RenderPlain(), "[>Cancel<]");
    dialog.Handle(K(ZrKey::Left));
    EXPECT_EQ(dialog.Handle(K(ZrKey::Space)), ZrTerminalDialog::Outcome::Ok);
}

TEST(KeyDecoder, SplitsSequencesAcrossReads) {
    ZrKeyDecoder decoder;
    ZrKeyEvent e;
    decoder.Feed("\x1b", 1);
    EXPECT_FALSE(decoder.Next(e, false)); // could be the start of an arrow key
    decoder.Feed("[B\t\x1b[Z\x1bOA \r\x7f\x03"
                 "a\xC3",
                 15);
    const ZrKey expected[] = {ZrKey::Down,      ZrKey::Tab,       ZrKey::BackTab,
                              ZrKey::Up,        ZrKey::Space,     ZrKey::Enter,
                              ZrKey::Backspace, ZrKey::Interrupt, ZrKey::Text};
    for (ZrKey k : expected) {
        ASSERT_TRUE(decoder.Next(e, false));
        EXPECT_EQ(e.Key, k);
    }
    EXPECT_FALSE(decoder.Next(e, false)); // half a character
    decoder.Feed("\xA9", 1);
    ASSERT_TRUE(decoder.Next(e, false));
    EXPECT_EQ(e.Text, "\xC3\xA9");
    decoder.Feed("\x1b", 1);
    ASSERT_TRUE(decoder.Next(e, true)); // nothing followed: the Escape key
    EXPECT_EQ(e.Key, ZrKey::Escape);
    decoder.Feed("\x1b[15~\x01", 6); // keys the dialog does not use are skipped
    EXPECT_FALSE(decoder.Next(e, true));
}

TEST(TerminalMessage, ButtonsAndAnswers) {
    ZrTerminalMessage yesNo("Confirm Action", "Download the encoder now?", ZrMessageYesNo, 50);
    EXPECT_CONTAINS(yesNo.Render(false).front(), "Confirm Action");
    EXPECT_EQ(yesNo.Handle(K(ZrKey::Right)), ZrTerminalDialog::Outcome::Open);
    EXPECT_EQ(yesNo.Handle(K(ZrKey::Enter)), ZrTerminalDialog::Outcome::Cancel); // "No"
    ZrTerminalMessage ok("Warning", "Something", ZrMessageOk, 50);
    ok.Handle(K(ZrKey::Right)); // one button: nothing to move to
    EXPECT_EQ(ok.Handle(K(ZrKey::Space)), ZrTerminalDialog::Outcome::Ok);
}

// Every line of the box is as wide on screen as the box, whatever script fills it.
TEST(TerminalMessage, LinesKeepTheBoxWidthInAnyScript) {
    const struct {
        const char* What;
        const char* Text;
    } cases[] = {
        {"Japanese", "エンコーダーをダウンロードしますか？ 日本語の説明がとても長い場合の折り返し"},
        {"emoji", "😀🎉 Download now? 🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧🎧"},
        {"combining accent", "Cafe\xCC\x81 de\xCC\x81ja\xCC\x80 vu, re\xCC\x81sume\xCC\x81 "
                             "of a rather long text that wraps"},
        {"invalid UTF-8", "bad \xFF\xFE bytes \xC3 here and a title of many bytes \xE2\x82"},
    };
    for (const auto& c : cases) {
        ZrTerminalMessage message(c.Text, c.Text, ZrMessageOk, 31);
        for (const std::string& line : message.Render(false))
            EXPECT_EQ(ZrTextColumns(line), 31u) << c.What << ": " << line;
    }
}

} // namespace
