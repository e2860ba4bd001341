#include "zrenc/Arguments.h"

#include <charconv>

#ifndef ZRENC_VERSION
#define ZRENC_VERSION "0.0.0"
#endif

namespace zrenc {

namespace {

constexpr unsigned MaxJobs = 256;

struct Parser {
    explicit Parser(const std::vector<std::string>& arguments) : args(arguments) {}

    const std::vector<std::string>& args;
    size_t next = 0;
    ParseResult result;
    std::vector<Command> commands;
    bool encodeOptions = false; // an option that only an encode run takes was given
    bool help = false;

    bool Fail(std::string text) {
        if (result.error.empty())
            result.error = std::move(text);
        return false;
    }

    // The value of an option: the rest of the token when attached, else the next argument.
    bool TakeValue(const std::string& option, const std::string* attached, std::string& out) {
        if (attached) {
            out = *attached;
            return true;
        }
        if (next >= args.size())
            return Fail("option " + option + " needs a value");
        out = args[next++];
        return true;
    }

    bool ParseJobs(const std::string& text) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || value < 1 ||
            value > MaxJobs)
            return Fail("-j wants a number of files from 1 to " + std::to_string(MaxJobs) +
                        ", not \"" + text + "\"");
        result.options.jobs = value;
        return true;
    }

    // One option; `name` is "-x" or "--name", `attached` its "=value" or the rest of a short
    // token when there is one.
    bool Option(const std::string& name, const std::string* attached) {
        Options& o = result.options;
        auto valued = [&](std::string& out) { return TakeValue(name, attached, out); };
        if (name == "-h" || name == "--help") {
            help = true;
            return true;
        }
        if (name == "-V" || name == "--version") {
            commands.push_back(Command::Version);
            return true;
        }
        if (name == "--list") {
            commands.push_back(Command::List);
            return true;
        }
        if (name == "--dependencies") {
            commands.push_back(Command::Dependencies);
            return true;
        }
        if (name == "--register") {
            commands.push_back(Command::Register);
            return true;
        }
        if (name == "--unregister") {
            commands.push_back(Command::Unregister);
            return true;
        }
        if (name == "--settings") {
            commands.push_back(Command::ShowSettings);
            return valued(o.encoder);
        }
        if (name == "--options") {
            commands.push_back(Command::EditOptions);
            return valued(o.encoder);
        }
        if (name == "--set") {
            commands.push_back(Command::SaveSettings);
            if (!valued(o.encoder))
                return false;
            if (next >= args.size())
                return Fail("--set needs an encoder and a settings text");
            o.settingsText = args[next++];
            return true;
        }
        if (name == "-p" || name == "--profile")
            return valued(o.profile);
        if (name == "-q" || name == "--quiet") {
            o.quiet = true;
            return true;
        }
        encodeOptions = true;
        if (name == "-e" || name == "--encoder")
            return valued(o.encoder);
        if (name == "-s" || name == "--use-settings") {
            std::string text;
            if (!valued(text))
                return false;
            o.runSettings = text;
            return true;
        }
        if (name == "-o" || name == "--output")
            return valued(o.output) && (!o.output.empty() || Fail("-o needs a file name"));
        if (name == "-d" || name == "--directory")
            return valued(o.outputFolder) &&
                   (!o.outputFolder.empty() || Fail("-d needs a folder name"));
        if (name == "-f" || name == "--force") {
            o.force = true;
            return true;
        }
        if (name == "--verify") {
            o.verify = true;
            return true;
        }
        // Flips one decoded sample of each output as --verify reads it back; not in --help.
        if (name == "--debug-corrupt-sample") {
            std::string text;
            if (!valued(text))
                return false;
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), o.corruptSample);
            if (error != std::errc() || end != text.data() + text.size() || o.corruptSample < 0)
                return Fail("--debug-corrupt-sample wants a sample number");
            o.verify = true;
            return true;
        }
        if (name == "-j" || name == "--jobs") {
            std::string text;
            return valued(text) && ParseJobs(text);
        }
        if (name == "--no-tags") {
            o.noTags = true;
            return true;
        }
        if (name == "-t" || name == "--tag") {
            std::string text;
            if (!valued(text))
                return false;
            const size_t equals = text.find('=');
            if (equals == 0 || equals == std::string::npos)
                return Fail("-t wants KEY=VALUE (TITLE=Song), not \"" + text + "\"");
            o.tags.emplace_back(text.substr(0, equals), text.substr(equals + 1));
            return true;
        }
        return Fail("unknown option " + name);
    }

    // "-fq", "-j4", "-eflac": flags may be bundled; an option with a value takes the rest.
    bool ShortBundle(const std::string& token) {
        static const std::string withValue = "esodjpt";
        for (size_t i = 1; i < token.size(); ++i) {
            const std::string name = std::string("-") + token[i];
            if (withValue.find(token[i]) != std::string::npos && i + 1 < token.size()) {
                const std::string rest = token.substr(i + 1);
                return Option(name, &rest);
            }
            if (!Option(name, nullptr))
                return false;
        }
        return true;
    }

    bool Token(const std::string& token) {
        if (token.size() > 2 && token.starts_with("--")) {
            const size_t equals = token.find('=');
            if (equals == std::string::npos)
                return Option(token, nullptr);
            const std::string value = token.substr(equals + 1);
            return Option(token.substr(0, equals), &value);
        }
        if (token.size() > 1 && token[0] == '-')
            return ShortBundle(token);
        if (token == "-")
            return Fail("cannot read standard input (\"-\"): name the files to encode (a file "
                        "named \"-\" is ./-)");
        result.options.inputs.push_back(token);
        return true;
    }

    void Check() {
        Options& o = result.options;
        if (help) {
            result.error.clear();
            o.command = Command::Help;
            return;
        }
        if (!result.error.empty())
            return;
        if (commands.size() > 1) {
            Fail("choose one of --list, --settings, --set, --options, --register, --unregister, "
                 "--version");
            return;
        }
        o.command = commands.empty() ? Command::Encode : commands.front();
        if (o.command != Command::Encode) {
            if (!o.inputs.empty())
                Fail("unexpected argument \"" + o.inputs.front() + "\"");
            else if (encodeOptions)
                Fail("-e, -s, -o, -d, -f and -j belong to an encoding run");
            return;
        }
        if (o.encoder.empty())
            Fail("no encoder given: use -e ENCODER (zrenc --list shows them)");
        else if (o.inputs.empty())
            Fail("no input files");
        else if (!o.output.empty() && !o.outputFolder.empty())
            Fail("-o and -d exclude each other");
        else if (!o.output.empty() && o.inputs.size() > 1)
            Fail("-o names the output of a single input; use -d for several");
    }
};

} // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) {
    Parser parser(args);
    bool onlyInputs = false;
    while (parser.next < args.size()) {
        const std::string& token = args[parser.next++];
        if (onlyInputs) {
            parser.result.options.inputs.push_back(token);
        } else if (token == "--") {
            onlyInputs = true;
        } else {
            // After an error the rest is still read, so that a later --help wins.
            parser.Token(token);
        }
    }
    parser.Check();
    return parser.result;
}

std::string VersionText() {
    return "zrenc " ZRENC_VERSION "\n";
}

std::string UsageText() {
    return R"(Usage: zrenc -e ENCODER [options] INPUT...
       zrenc --list | --settings ENCODER | --set ENCODER TEXT | --options ENCODER
       zrenc --register | --unregister | --help | --version

Encodes each INPUT (any audio file FFmpeg can decode) with one of the registered encoders.
The output appears under its final name only when it is complete.

Encoding:
  -e, --encoder ENCODER   the encoder: its index (0-11), its display name (any case) or a
                          short name: ape ogg wav mp3 external wma flac mpc wavpack aiff
                          alac dsd
  -s, --use-settings TEXT settings for this run only: the encoder's defaults plus the given
                          pairs, as "Key=value|Key=value" (see --settings)
  -o, --output FILE       the exact output file (one input only)
  -d, --directory DIR     write the outputs into DIR (created when missing), named after
                          the inputs with the encoder's extension
                          (without -o or -d each output goes beside its input)
  -f, --force             replace existing outputs (an input is never replaced)
  -j, --jobs N            encode N files at once (default: one per processor)
  -q, --quiet             print nothing but errors
      --verify            decode each lossless output again and compare every sample with
                          the input; a difference fails the file and keeps no output
  -p, --profile NAME      use the settings saved under NAME instead of the common ones
  -t, --tag KEY=VALUE     set a tag (TITLE, ARTIST, ALBUM, ALBUMARTIST, TRACKNUMBER, DATE,
                          GENRE, COMMENT, any other name); repeated for several values, empty
                          to remove the field
      --no-tags           do not carry the input's tags and pictures into the output

Settings and registration:
  --list                  the encoders: index, short name, display name, extension, and
                          whether each is configurable, streaming, lossless and available
  --dependencies          where the encoder programs were found, or why they are missing
  --settings ENCODER      print the settings text the encoder uses (saved values and
                          defaults)
  --set ENCODER TEXT      save TEXT as the encoder's settings
  --options ENCODER       edit the encoder's settings in its options window (on a terminal:
                          arrows and Tab move, Space changes, Enter on OK saves, Esc cancels)
  --register              register the encoder library in the settings store (zrenc does
                          this by itself on first use)
  --unregister            remove the registration
  -h, --help              this text
  -V, --version           the version

Progress bars and a summary appear on a terminal; otherwise, and with -q, only errors are
printed. Exit status: 0 when every file was encoded, 1 when any failed, 2 for a usage error,
130 when interrupted (Ctrl-C removes partial outputs).

Examples:
  zrenc -e flac song.wav                   song.flac beside song.wav
  zrenc -e wavpack -d out/ *.flac          every file into out/, two at once on two cores
  zrenc -e alac -o "Side A.m4a" side-a.ape one file to an exact name
  zrenc -e 6 -s "Quality=8" -f song.wav    FLAC at level 8 for this run, replacing song.flac
  zrenc -e mp3 -j 1 -q *.wav               one file at a time, errors only
  zrenc --list                             what can encode here
  zrenc --settings flac                    FLAC's settings text
  zrenc --set flac "Quality=8|Verify=1"    keep these FLAC settings for later runs
  zrenc --options wavpack                  choose WavPack's settings in its window
)";
}

} // namespace zrenc
