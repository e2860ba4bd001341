#include "zrenc/Commands.h"

#include "foundation/ZrFileSystem.h"
#include "foundation/ZrNumber.h"
#include "loader/CEncoderPlugin.h"
#include "loader/ZrHostTools.h"
#include "tools/ZrToolsPaths.h"
#include "zrenc/DependencyCommand.h"
#include "zrenc/Display.h"
#include "zrenc/EncoderCatalog.h"
#include "zrenc/JobRunner.h"
#include "zrenc/OutputFiles.h"
#include "zrenc/Pcm.h"
#include "zrenc/Verify.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zrenc {

namespace fs = std::filesystem;

namespace {

// Ctrl-C, a closed terminal or a kill: every job stops and removes what it wrote. A second
// signal ends the process at once (the handler resets itself).
std::atomic<bool> g_cancel{false};
volatile std::sig_atomic_t g_signal = 0;

extern "C" void OnSignal(int signo) {
    g_signal = signo;
    g_cancel.store(true);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored by whoever started us (nohup, a background job) stays ignored.
        struct sigaction previous {};
        if (sigaction(signo, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        sigaction(signo, &action, nullptr);
    }
}

void PrintError(const std::string& text) {
    std::fprintf(stderr, "zrenc: %s\n", ForDisplay(text).c_str());
}

std::string Prop(IZrEncoder* encoder, const char16_t* name) {
    ZrSysString value = encoder->GetProperty(name);
    return value ? ZrTakeSysString(value).ToUtf8() : std::string();
}

// The host's tools and the plug-in library, released in the right order at the end.
class HostSession {
public:
    ~HostSession() {
        m_library.reset();
        ZrHostTools::Unload();
    }

    bool Open(const std::string& programFolder, std::string& error) {
        // Installed, the libraries live in a program directory of their own; in the build tree,
        // in lib/ beside bin/.
        const std::vector<std::string> folders = {
            (fs::path(programFolder) / ZRENC_INSTALLED_PROGRAM_DIR).lexically_normal().string(),
            (fs::path(programFolder) / ".." / "lib").lexically_normal().string(), programFolder};
        std::string why;
        if (!ZrHostTools::Load(folders, &why)) {
            error = "cannot load the host's tools library: " + why;
            return false;
        }
        m_library = std::make_unique<PluginLibrary>();
        if (!m_library->Load(folders, why)) {
            error = "cannot load the encoder library: " + why;
            return false;
        }
        return true;
    }

    PluginLibrary& Library() { return *m_library; }

private:
    std::unique_ptr<PluginLibrary> m_library;
};

// ---- availability ------------------------------------------------------------------------

struct Availability {
    bool available = false;
    std::string reason;
};

// Dependencies found and, for a buffer encoder, a start that succeeds: a stand-in that refuses
// every job fails its start. The trial output goes to a private temporary folder.
Availability CheckAvailable(IZrEncoder* encoder) {
    auto lastError = [&](const std::string& fallback) {
        const std::string text = Prop(encoder, u"Last Error");
        return text.empty() ? fallback : text;
    };
    if (!encoder->CheckDependencies())
        return {false, lastError("programs or components it needs are missing")};
    if (Prop(encoder, u"Buffer Input") != "1") {
        if (encoder->GetConfigurable() == 2)
            return {false, "must be configured first (zrenc --set)"};
        return {true, {}};
    }
    std::string folder = (fs::temp_directory_path() / "zrenc-probe-XXXXXX").string();
    if (!::mkdtemp(folder.data()))
        return {false, "cannot make a temporary folder to try it"};
    const ZrString destination = ZrString::FromUtf8((fs::path(folder) / "probe").string());
    encoder->SetProperty(u"Add Output Extension", u"1");
    encoder->SetProperty(u"Destination Filename", destination.c_str());
    const PcmSpec spec{2, 44100, 16, false};
    const WAVEFORMATEX format = spec.ToWaveFormat();
    Availability result;
    if (encoder->StartBufferBased(&format, 0)) {
        encoder->FinishBufferBased();
        result.available = true;
    } else {
        result.reason = lastError("it refuses to start");
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return result;
}

// ---- --list ------------------------------------------------------------------------------

struct ListRow {
    std::vector<std::string> cells;
    std::string note;
};

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

ListRow DescribeEncoder(const EncoderKind& kind, const EncoderCatalog& catalog,
                        const ZrString& profile) {
    ListRow row;
    row.cells = {std::to_string(kind.index), kind.shortName};
    const Registration* registration = catalog.ByIndex(kind.index);
    if (!registration) {
        row.cells.insert(row.cells.end(), {"(not registered)", "-", "-", "-", "-", "no"});
        row.note = "not registered (zrenc --register)";
        return row;
    }
    CEncoderPlugin plugin(registration->name, profile);
    if (!plugin.Load(false)) {
        row.cells.insert(row.cells.end(), {registration->name.ToUtf8(), "-", "-", "-", "-", "no"});
        row.note = "cannot load " + registration->path.ToUtf8();
        return row;
    }
    IZrEncoder* encoder = plugin.GetEncoder();
    const std::string configurable = Prop(encoder, u"Configurable");
    bool lossless = kind.lossless;
    // WavPack's hybrid mode keeps only an approximation in the main file.
    if (Prop(encoder, u"Settings").find("Compression Type=Hybrid") != std::string::npos)
        lossless = false;
    const Availability availability = CheckAvailable(encoder);
    row.cells.insert(row.cells.end(),
                     {Prop(encoder, u"Display Name"), Prop(encoder, u"Extension"),
                      configurable == "2" ? "required" : YesNo(configurable != "0"),
                      YesNo(Prop(encoder, u"Streaming") == "1"), YesNo(lossless),
                      YesNo(availability.available)});
    row.note = availability.reason;
    return row;
}

int ListEncoders(const EncoderCatalog& catalog, const ZrString& profile) {
    std::vector<ListRow> rows;
    rows.push_back({{"#", "Short", "Display name", "Ext", "Configurable", "Streaming", "Lossless",
                     "Available"},
                    {}});
    for (const EncoderKind& kind : EncoderKinds)
        rows.push_back(DescribeEncoder(kind, catalog, profile));
    std::vector<size_t> widths(rows.front().cells.size(), 0);
    for (const ListRow& row : rows)
        for (size_t i = 0; i < row.cells.size(); ++i)
            widths[i] = std::max(widths[i], TextWidth(row.cells[i]));
    for (const ListRow& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.cells.size(); ++i) {
            const std::string& cell = row.cells[i];
            const std::string padding(widths[i] - TextWidth(cell), ' ');
            line += i == 0 ? padding + cell : cell; // the index column is right-aligned
            if (i + 1 < row.cells.size())
                line += (i == 0 ? "" : padding) + "  ";
        }
        std::printf("%s\n", line.c_str());
    }
    bool first = true;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].note.empty())
            continue;
        if (first)
            std::printf("\n");
        first = false;
        std::printf("%s: %s\n", rows[i].cells[1].c_str(), rows[i].note.c_str());
    }
    return ExitOk;
}

// ---- --settings and --set ----------------------------------------------------------------

std::vector<std::string> KeysOf(const std::string& settingsText) {
    std::vector<std::string> keys;
    size_t start = 0;
    while (start < settingsText.size()) {
        const size_t end = std::min(settingsText.find('|', start), settingsText.size());
        const std::string pair = settingsText.substr(start, end - start);
        keys.push_back(pair.substr(0, pair.find('=')));
        start = end + 1;
    }
    return keys;
}

// What each encoder takes for its settings: a range or a list of values, or any text.
struct SettingRule {
    const char* key;
    std::vector<std::string> values; // the allowed texts; empty: an integer from low to high
    long low = 0, high = 0;
    bool anyText = false; // a command line, a path: whatever the user writes
};

const std::vector<SettingRule>* RulesOf(int32_t index) {
    static const std::vector<SettingRule> flac = {{"Quality", {}, 0, 8},
                                                  {"Verify", {"0", "1"}},
                                                  {"Ogg", {"0", "1"}},
                                                  {"AddPB", {"0", "1"}},
                                                  {"AddST", {"0", "1"}}};
    static const std::vector<SettingRule> ape = {{"Compression", {"1000", "2000", "3000", "4000"}}};
    static const std::vector<SettingRule> wavpack = {
        {"Compression Type", {"Lossless", "Hybrid"}},
        {"Target Bitrate",
         {"32", "64", "96", "128", "160", "192", "256", "320", "384", "512", "640", "768", "1024",
          "1280", "1536", "2048", "2560"}},
        {"Correction File", {"0", "1"}},
        {"Compression", {"0", "512", "2048", "4096"}},
        {"Extra Encode Processing", {}, 0, 6}};
    static const std::vector<SettingRule> wav = {
        {"NOHDR", {"0", "1"}}, {"L16", {"0", "1"}}, {"L24", {"0", "1"}}};
    static const std::vector<SettingRule> dsd = {
        {"SampleRate", {"2822400", "5644800", "11289600", "22579200"}}};
    static const std::vector<SettingRule> preset = {
        {"Mode", {"0", "1"}}, {"Quality", {}, 0, 4}, {"Command Line", {}, 0, 0, true}};
    static const std::vector<SettingRule> mp3 = {
        {"Mode", {}, 0, 3},           {"Bitrate", {}, 8, 320},
        {"ForceCBR", {"0", "1"}},     {"SpeedBitrate", {}, 8, 320},
        {"VBRQualityMode", {}, 0, 4}, {"CommandLine", {}, 0, 0, true}};
    static const std::vector<SettingRule> wma = {{"Mode", {"0", "1", "2"}},
                                                 {"CBR Bitrate", {}, 0, 7},
                                                 {"VBR Bitrate", {}, 0, 4},
                                                 {"Security", {"0", "1"}}};
    static const std::vector<SettingRule> external = {{"Program Path", {}, 0, 0, true},
                                                      {"Program Parameters", {}, 0, 0, true},
                                                      {"Target File Extension", {}, 0, 0, true},
                                                      {"Support Long Filenames", {"0", "1"}},
                                                      {"Use source file as-is", {"0", "1"}},
                                                      {"Hide Command window", {"0", "1"}},
                                                      {"Bitrate", {}, 0, 100000}};
    static const std::vector<SettingRule> none;
    switch (index) {
    case ZrEncoderIndex::Flac:
        return &flac;
    case ZrEncoderIndex::Ape:
        return &ape;
    case ZrEncoderIndex::Wv:
        return &wavpack;
    case ZrEncoderIndex::Wav:
        return &wav;
    case ZrEncoderIndex::Dsd:
        return &dsd;
    case ZrEncoderIndex::Ogg:
    case ZrEncoderIndex::Mpc:
        return &preset;
    case ZrEncoderIndex::Mp3:
        return &mp3;
    case ZrEncoderIndex::Wma:
        return &wma;
    case ZrEncoderIndex::External:
        return &external;
    case ZrEncoderIndex::Aiff:
    case ZrEncoderIndex::Alac:
        return &none;
    }
    return nullptr;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Why `text` ("Key=value|...") is not a settings text `name` takes; empty when it is.
std::string CheckSettings(int32_t index, const std::string& name, const std::string& text) {
    const std::vector<SettingRule>* rules = RulesOf(index);
    if (!rules || text.empty())
        return {};
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('|', start), text.size());
        const std::string pair = text.substr(start, end - start);
        start = end + 1;
        if (pair.empty())
            continue;
        const size_t equals = pair.find('=');
        const std::string key = pair.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : pair.substr(equals + 1);
        for (const std::string& part : {key, value})
            if (!part.empty() && (IsBlank(part.front()) || IsBlank(part.back())))
                return "spaces around \"" + pair + "\": write it as Key=value without them";
        const SettingRule* rule = nullptr;
        for (const SettingRule& r : *rules)
            if (ZrString::FromUtf8(key).EqualsNoCase(ZrString::FromUtf8(r.key).View()))
                rule = &r;
        if (!rule) {
            std::string keys;
            for (const SettingRule& r : *rules)
                keys += (keys.empty() ? "" : ", ") + std::string(r.key);
            return "\"" + key + "\" is not a setting of " + name +
                   (keys.empty() ? " (it has none)" : " (its settings: " + keys + ")");
        }
        std::string allowed;
        bool ok = false;
        if (rule->anyText) {
            ok = true;
        } else if (rule->values.empty()) {
            char* tail = nullptr;
            const long number = std::strtol(value.c_str(), &tail, 10);
            ok = !value.empty() && *tail == '\0' && number >= rule->low && number <= rule->high;
            allowed = std::to_string(rule->low) + " to " + std::to_string(rule->high);
        } else {
            ok = std::find(rule->values.begin(), rule->values.end(), value) != rule->values.end();
            for (const std::string& v : rule->values)
                allowed += (allowed.empty() ? "" : ", ") + v;
        }
        if (!ok)
            return name + " takes " + rule->key + " = " + allowed + ", not \"" + value + "\"";
    }
    return {};
}

// A profile that was never saved would silently mean the defaults.
bool ProfileExists(const Registration& registration, const std::string& profile) {
    if (profile.empty())
        return true;
    ZrRegKeyPtr key =
        ZrHostTools::OpenHostKey(ZrString(u"Plugins\\Encoders\\") + registration.name.View(), 0);
    const ZrString value = ZrString(u"Settings (") + ZrString::FromUtf8(profile).View() + u")";
    return key && ZrReadString(key.get(), value.c_str(), u"\x01").View() != u"\x01";
}

const Registration* ResolveOrComplain(const EncoderCatalog& catalog, const std::string& text,
                                      int& status) {
    std::string error;
    bool unknown = false;
    const Registration* registration = catalog.Resolve(text, error, unknown);
    if (!registration) {
        PrintError(error);
        status = unknown ? ExitUsage : ExitFailed;
    }
    return registration;
}

// The encoder named on the command line, loaded with the settings of the chosen profile; null
// (with the reason printed and `status` set) when it cannot be.
std::unique_ptr<CEncoderPlugin> LoadNamedEncoder(const Options& options,
                                                 const EncoderCatalog& catalog,
                                                 const Registration*& registration, int& status) {
    registration = ResolveOrComplain(catalog, options.encoder, status);
    if (!registration)
        return nullptr;
    auto plugin =
        std::make_unique<CEncoderPlugin>(registration->name, ZrString::FromUtf8(options.profile));
    if (!plugin->Load(false)) {
        PrintError("cannot load " + registration->name.ToUtf8() + " from " +
                   registration->path.ToUtf8());
        status = ExitFailed;
        return nullptr;
    }
    return plugin;
}

int ShowSettings(const Options& options, const EncoderCatalog& catalog) {
    int status = ExitOk;
    const Registration* registration = nullptr;
    const auto plugin = LoadNamedEncoder(options, catalog, registration, status);
    if (!plugin)
        return status;
    std::printf("%s\n", plugin->GetProperty(u"Settings").ToUtf8().c_str());
    return ExitOk;
}

int SaveSettings(const Options& options, const EncoderCatalog& catalog) {
    int status = ExitOk;
    const Registration* registration = nullptr;
    const auto loaded = LoadNamedEncoder(options, catalog, registration, status);
    if (!loaded)
        return status;
    CEncoderPlugin& plugin = *loaded;
    const std::string name = registration->name.ToUtf8();
    if (const std::string refusal = CheckSettings(registration->index, name, options.settingsText);
        !refusal.empty()) {
        PrintError(refusal);
        return ExitUsage;
    }
    // The keys the encoder knows are the ones its defaults hold.
    plugin.GetEncoder()->SetProperty(u"Settings", u"");
    const std::vector<std::string> known = KeysOf(plugin.GetProperty(u"Settings").ToUtf8());
    plugin.SaveSettings(ZrString::FromUtf8(options.settingsText));

    for (const std::string& key : KeysOf(options.settingsText)) {
        const bool isKnown = std::any_of(known.begin(), known.end(), [&](const std::string& k) {
            return ZrString::FromUtf8(k).EqualsNoCase(ZrString::FromUtf8(key).View());
        });
        if (isKnown || key.empty())
            continue;
        std::string list;
        for (const std::string& k : known)
            list += (list.empty() ? "" : ", ") + k;
        PrintError("note: \"" + key + "\" is not a setting of " + name +
                   (list.empty() ? " (it has none)" : " (its settings: " + list + ")"));
    }
    if (options.profile.empty() && registration->name.EqualsNoCase(u"Uncompressed Wave"))
        PrintError("note: " + name +
                   " always starts from its defaults unless a profile is given (-p); "
                   "-s changes its settings for one run");
    return ExitOk;
}

// Shows the encoder's options window; when the encoder reports true, its settings are saved
// as the host saves them after a window.
int EditOptions(const Options& options, const EncoderCatalog& catalog) {
    int status = ExitOk;
    const Registration* registration = nullptr;
    const auto loaded = LoadNamedEncoder(options, catalog, registration, status);
    if (!loaded)
        return status;
    CEncoderPlugin& plugin = *loaded;
    const std::string name = registration->name.ToUtf8();
    IZrEncoder* encoder = plugin.GetEncoder();
    if (ZrParseInt32(plugin.GetProperty(u"Configurable").View()) == 0) {
        PrintError(name + " has no options");
        return ExitFailed;
    }
    const char* ui = std::getenv("TESSARY_UI");
    if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO) || (ui && std::strcmp(ui, "none") == 0))
        PrintError("note: no terminal to show the window in, so it closes as Cancel; "
                   "zrenc --set changes settings without one");
    if (!encoder->Options())
        return ExitOk; // closed with Cancel: nothing to save
    plugin.SaveSettings(plugin.GetProperty(u"Settings"));
    return ExitOk;
}

// ---- encoding ----------------------------------------------------------------------------

bool SamePath(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec))
        return true;
    return fs::absolute(a, ec).lexically_normal() == fs::absolute(b, ec).lexically_normal();
}

struct Plan {
    std::vector<JobSpec> jobs;
    std::vector<std::string> refused; // error lines for inputs that do not run
};

Plan PlanJobs(const Options& options, const std::string& extension, const std::string& encoder) {
    Plan plan;
    for (const std::string& input : options.inputs) {
        JobSpec job;
        job.input = input;
        job.replace = options.force;
        job.output = options.output.empty() ? OutputFor(input, options.outputFolder, extension)
                                            : options.output;
        std::string reason;
        std::error_code ec;
        if (SamePath(job.output, input))
            reason = "the output " + job.output + " would replace the input";
        else if (std::any_of(plan.jobs.begin(), plan.jobs.end(),
                             [&](const JobSpec& j) { return SamePath(j.output, job.output); }))
            reason = "another input already writes " + job.output;
        else if (fs::exists(job.output, ec) && !fs::is_regular_file(job.output, ec))
            reason = job.output + " exists and is not a regular file"; // never a device
        else if (!options.force && fs::exists(fs::symlink_status(job.output, ec)))
            reason = job.output + " exists (-f replaces it)";
        else if (!fs::is_directory(fs::path(job.output).parent_path().empty()
                                       ? fs::path(".")
                                       : fs::path(job.output).parent_path(),
                                   ec))
            reason = "the folder of " + job.output + " does not exist";
        if (reason.empty())
            plan.jobs.push_back(job);
        else
            plan.refused.push_back("error: " + input + " [" + encoder + "]: " + reason);
    }
    return plan;
}

std::string DoneLine(const JobSpec& job, const JobOutcome& outcome, bool unicode) {
    std::string line = std::string(unicode ? "✓ " : "done ") + job.input + " -> " + job.output +
                       "  " + FormatBytes(outcome.bytesOut);
    if (outcome.bytesIn) {
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, " (%.1f%%)",
                      100.0 * static_cast<double>(outcome.bytesOut) /
                          static_cast<double>(outcome.bytesIn));
        line += ratio;
    }
    if (outcome.seconds > 0 && outcome.audioSeconds > 0) {
        char speed[32];
        std::snprintf(speed, sizeof speed, "  %.1fx", outcome.audioSeconds / outcome.seconds);
        line += speed;
    }
    if (outcome.verified)
        line += "  verified";
    return line;
}

int Encode(const Options& options, const EncoderCatalog& catalog) {
    int status = ExitOk;
    const Registration* registration = ResolveOrComplain(catalog, options.encoder, status);
    if (!registration)
        return status;
    EncoderChoice choice;
    choice.name = registration->name;
    choice.profile = ZrString::FromUtf8(options.profile);
    choice.index = registration->index;
    if (options.runSettings)
        choice.runSettings = ZrString::FromUtf8(*options.runSettings);
    choice.verify = options.verify;
    choice.corruptSample = options.corruptSample;
    choice.tags = {!options.noTags, options.tags};
    const std::string encoderName = registration->name.ToUtf8();
    if (options.runSettings) {
        if (const std::string refusal =
                CheckSettings(registration->index, encoderName, *options.runSettings);
            !refusal.empty()) {
            PrintError(refusal);
            return ExitUsage;
        }
    }
    if (!ProfileExists(*registration, options.profile)) {
        PrintError("no settings are saved under the profile \"" + options.profile + "\" for " +
                   encoderName + " (zrenc -p NAME --set ENCODER TEXT saves some)");
        return ExitUsage;
    }

    // One encoder object up front: the extension (which its settings may change) and whether
    // it can run at all.
    std::string extension;
    {
        CEncoderPlugin probe(choice.name, choice.profile);
        if (!probe.Load(false)) {
            PrintError("cannot load " + encoderName + " from " + registration->path.ToUtf8());
            return ExitFailed;
        }
        if (choice.runSettings)
            probe.GetEncoder()->SetProperty(u"Settings", choice.runSettings->c_str());
        if (Prop(probe.GetEncoder(), u"Configurable") == "2") {
            PrintError(encoderName + " must be configured before it can encode: give its "
                                     "settings with -s or save them with --set");
            return ExitFailed;
        }
        extension = Prop(probe.GetEncoder(), u"Extension");
    }
    if (options.output.empty() && extension.empty()) {
        PrintError(encoderName + " names no file extension; give the output with -o");
        return ExitFailed;
    }
    if (!options.outputFolder.empty()) {
        std::string why;
        if (!ZrFileSystem::MakeDirectories(options.outputFolder, &why)) {
            PrintError("cannot make the folder " + options.outputFolder + ": " + why);
            return ExitFailed;
        }
    }

    const bool live = !options.quiet && ::isatty(STDERR_FILENO);
    Display display(stderr, live);
    const Plan plan = PlanJobs(options, extension, encoderName);
    for (const std::string& line : plan.refused)
        display.Error("zrenc: " + line);
    if (options.verify && !Verifiable(registration->index))
        display.Note("zrenc: note: --verify checks lossless outputs only; " + encoderName +
                     " is lossy, so nothing is verified");

    const unsigned threads =
        options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    RunTotals totals;
    totals.failed = static_cast<unsigned>(plan.refused.size());
    const auto started = std::chrono::steady_clock::now();
    InstallSignalHandlers();
    RunHooks hooks;
    hooks.finished = [&](size_t index, const JobOutcome& outcome) {
        const JobSpec& job = plan.jobs[index];
        const std::string where = job.input + " [" + encoderName + "]: ";
        for (const std::string& warning : outcome.warnings)
            display.Error("zrenc: warning: " + where + warning);
        // The libraries' own lines: with the summary, or with the failure they explain.
        for (const std::string& line : outcome.libraryWarnings) {
            if (!outcome.ok && !outcome.cancelled)
                display.Error("zrenc: note: " + where + line);
            else
                display.Note("zrenc: note: " + where + line);
        }
        for (const std::string& note : outcome.notes)
            display.Note("zrenc: note: " + where + note);
        if (outcome.ok) {
            ++totals.succeeded;
            totals.bytesIn += outcome.bytesIn;
            totals.bytesOut += outcome.bytesOut;
            totals.audioSeconds += outcome.audioSeconds;
            display.Note(DoneLine(job, outcome, display.Live()));
        } else if (!outcome.cancelled) {
            ++totals.failed;
            display.Error("zrenc: error: " + job.input + " [" + encoderName +
                          "]: " + outcome.reason);
        }
    };
    RunJobs(plan.jobs, choice, threads, display, g_cancel, hooks);
    totals.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (g_cancel.load()) {
        PrintError("interrupted: unfinished outputs were removed");
        return 128 + (g_signal ? static_cast<int>(g_signal) : SIGINT);
    }
    if (live)
        std::fprintf(stderr, "%s\n", FormatSummary(totals).c_str());
    return totals.failed ? ExitFailed : ExitOk;
}

} // namespace

namespace {

// Unregistering removes the encoders' keys, and with them the settings saved there; those are
// the user's and stay for the next registration.
struct SavedSetting {
    ZrString key, name, text;
};

std::vector<SavedSetting> SavedSettings() {
    std::vector<SavedSetting> saved;
    const ZrString root = u"Plugins\\Encoders";
    ZrRegKeyPtr encoders = ZrHostTools::OpenHostKey(root, 0);
    for (uint32_t i = 0; encoders; ++i) {
        ZrSysString sub = encoders->EnumSubKey(i);
        if (!sub)
            break;
        const ZrString path = root + u"\\" + ZrTakeSysString(sub).View();
        ZrRegKeyPtr key = ZrHostTools::OpenHostKey(path, 0);
        for (uint32_t v = 0; key; ++v) {
            ZrSysString value = key->EnumValue(v);
            if (!value)
                break;
            const ZrString name = ZrTakeSysString(value);
            if (name.View().starts_with(u"Settings"))
                saved.push_back({path, name, ZrReadString(key.get(), name.c_str())});
        }
    }
    return saved;
}

void RestoreSettings(const std::vector<SavedSetting>& saved) {
    for (const SavedSetting& s : saved) {
        ZrRegKeyPtr key = ZrHostTools::OpenHostKey(s.key, 0);
        if (!key)
            continue;
        key->Prepare();
        if (!key->SetString(s.name.c_str(), s.text.c_str()))
            PrintError("cannot keep the saved settings " + s.name.ToUtf8() + " of " +
                       s.key.ToUtf8());
    }
}

int RunStoreCommand(const Options& options, const std::string& programFolder) {
    HostSession host;
    std::string error;
    if (!host.Open(programFolder, error)) {
        PrintError(error);
        return ExitFailed;
    }
    PluginLibrary& library = host.Library();
    switch (options.command) {
    case Command::Register:
        return library.Register(error) ? ExitOk : (PrintError(error), ExitFailed);
    case Command::Unregister: {
        const std::vector<SavedSetting> saved = SavedSettings();
        const bool unregistered = library.Unregister(error);
        RestoreSettings(saved);
        return unregistered ? ExitOk : (PrintError(error), ExitFailed);
    }
    case Command::Dependencies:
        return ListDependencies();
    default:
        break;
    }

    const ZrString profile = ZrString::FromUtf8(options.profile);
    auto catalog = std::make_unique<EncoderCatalog>(library.Path(), profile);
    if (!catalog->MentionsShippedLibrary()) {
        // First use: the shipped library registers its encoders, as an installer would.
        if (!library.Register(error)) {
            PrintError(error);
            return ExitFailed;
        }
        catalog = std::make_unique<EncoderCatalog>(library.Path(), profile);
    }
    switch (options.command) {
    case Command::List:
        return ListEncoders(*catalog, profile);
    case Command::ShowSettings:
        return ShowSettings(options, *catalog);
    case Command::SaveSettings:
        return SaveSettings(options, *catalog);
    case Command::EditOptions:
        return EditOptions(options, *catalog);
    default:
        return Encode(options, *catalog);
    }
}

// The store and the data folder must be usable before the libraries touch them: their own
// failures reach only the log, or a dialog that asks to reinstall.
bool CheckStore(const ZrToolsPaths& paths, std::string& error) {
    const std::string& store = paths.UserStoreFile;
    for (const std::string& folder : {fs::path(store).parent_path().string(), paths.DataFolder}) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec) {
            error = "cannot create the folder " + folder + ": " + ec.message();
            return false;
        }
    }
    struct stat info {};
    if (::stat(store.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            error = "the settings store " + store + " is not a file";
            return false;
        }
        const int fd = ::open(store.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            error = "cannot write the settings store " + store + ": " + std::strerror(errno);
            return false;
        }
        ::close(fd);
        return true;
    }
    const std::string probe = store + ".zrenc-" + std::to_string(::getpid());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot create the settings store " + store + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

// The copies the store keeps of a file it could not read whole ("settings.ini.bak", ...).
std::vector<std::string> StoreCopies(const std::string& store) {
    std::vector<std::string> copies;
    std::error_code ec;
    const std::string name = fs::path(store).filename().string() + ".bak";
    for (fs::directory_iterator it(fs::path(store).parent_path(), ec), end; !ec && it != end;
         it.increment(ec))
        if (it->path().filename().string().starts_with(name))
            copies.push_back(it->path().string());
    return copies;
}

} // namespace

int RunCommand(const Options& options, const std::string& programFolder) {
    const ZrToolsPaths paths =
        ZrToolsPaths::Compute([](const char* name) -> const char* { return std::getenv(name); });
    std::string error;
    if (!CheckStore(paths, error)) {
        PrintError(error);
        return ExitFailed;
    }
    const std::vector<std::string> before = StoreCopies(paths.UserStoreFile);
    const int status = RunStoreCommand(options, programFolder);
    for (const std::string& copy : StoreCopies(paths.UserStoreFile))
        if (std::find(before.begin(), before.end(), copy) == before.end())
            PrintError("note: the settings store " + paths.UserStoreFile +
                       " had lines it could not read and was rebuilt; the old file is " + copy);
    return status;
}

} // namespace zrenc
