#include "options/ExternalEncoderOptionsWnd.h"

#include "external/ExternalSettings.h"
#include "foundation/ZrNumber.h"
#include "frame/ZrHostLibraries.h"
#include "options/ZrMessageBox.h"

using namespace ExternalSettings;

void CExternalEncoderOptionsWnd::CreateControls() {
    // The toolkit's file chooser on Windows offers
    // "Executable Files (*.exe;*.bat)|*.exe;*.bat|All Files (*.*)|*.*|"; here the path is typed.
    m_program = AddEdit(u"Filename:");
    m_parameters = AddEdit(u"Parameters:");
    AddHelpText(u"(use %IN for source file and %OUT for output file)");
    // An editable list: "mp3", "ogg" and "aac" are offered, any other text is taken.
    m_extension = AddEdit(u"Extension:");
    AddHelpText(u"mp3, ogg, aac");
    m_longFilenames = AddCheckBox(u"Encoder supports long filenames");
    m_sourceAsIs = AddCheckBox(u"Use source file as-is");
    m_hideWindow = AddCheckBox(u"Hide command window");
    m_bitrate = AddEdit(u"Bitrate:");

    m_shownProgram = ProgramPath.Get(Settings());
    m_program->SetText(m_shownProgram);
    m_parameters->SetText(ProgramParameters.Get(Settings()));
    m_extension->SetText(TargetExtension.Get(Settings()));
    m_longFilenames->SetChecked(LongFilenames.Get(Settings()) != 0);
    m_sourceAsIs->SetChecked(SourceAsIs.Get(Settings()) != 0);
    m_hideWindow->SetChecked(HideWindow.Get(Settings()) != 0);
    m_bitrate->SetText(ZrString::FromInt(Bitrate.Get(Settings())));
}

void CExternalEncoderOptionsWnd::UpdateControls() {
    if (!m_program || m_program->GetText() == m_shownProgram)
        return;
    m_shownProgram = m_program->GetText();
    if (const KnownProgram* known = FindKnownProgram(m_shownProgram)) {
        m_parameters->SetText(known->Parameters);
        m_extension->SetText(known->Extension);
        m_longFilenames->SetChecked(known->LongFilenames);
    }
}

void CExternalEncoderOptionsWnd::OnOK() {
    if (m_program->GetText().IsEmpty() || m_parameters->GetText().IsEmpty() ||
        m_extension->GetText().IsEmpty()) {
        ZrMessageBox(u"Warning", u"External encoder path and parameters cannot be empty.",
                     ZrMessageOk);
        return;
    }
    ProgramPath.Set(Settings(), m_program->GetText());
    ProgramParameters.Set(Settings(), m_parameters->GetText());
    TargetExtension.Set(Settings(), m_extension->GetText());
    LongFilenames.Set(Settings(), m_longFilenames->IsChecked() ? 1 : 0);
    SourceAsIs.Set(Settings(), m_sourceAsIs->IsChecked() ? 1 : 0);
    HideWindow.Set(Settings(), m_hideWindow->IsChecked() ? 1 : 0);
    Bitrate.Set(Settings(), ZrParseInt32(m_bitrate->GetText().View()));
    Close(ZrModalOk);
}
