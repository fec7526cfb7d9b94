#include "installer/command_line/cli_options.h"

#include "installer/procedure/apply_commands.h"

#include <cctype>
#include <functional>

namespace installer {
namespace {

struct OptionRow {
    const char* name;
    const char* value; // the value's placeholder; null for a switch
    const char* help;
    std::function<void(CliOptions&, const std::string& value)> apply;
};

int NameFormatChoice(const std::string& value) {
    if (value == "none")
        return kNameFormatUnchanged;
    if (value == "0")
        return kNameFormatLibrary;
    if (value == "1")
        return kNameFormatPath;
    throw ECliUsage("--name-format takes none, 0 or 1");
}

SecurityChoice SecurityOption(const std::string& value) {
    if (value == "none")
        return SecurityChoice::None;
    if (value == "tls")
        return SecurityChoice::Tls;
    if (value == "implicit-tls")
        return SecurityChoice::ImplicitTls;
    throw ECliUsage("--security takes none, tls or implicit-tls");
}

DataConnectionChoice DataConnectionOption(const std::string& value) {
    if (value == "auto")
        return DataConnectionChoice::Auto;
    if (value == "active")
        return DataConnectionChoice::Active;
    if (value == "passive")
        return DataConnectionChoice::Passive;
    throw ECliUsage("--data-connection takes auto, active or passive");
}

// A SHA-256 fingerprint as the refusal prints it or as other tools do: 32 byte pairs of hex
// digits in either case, with or without a colon between pairs.
std::string FingerprintOption(const std::string& value) {
    std::size_t digits = 0;
    bool wellFormed = !value.empty() && value.back() != ':';
    for (std::size_t i = 0; wellFormed && i < value.size(); ++i) {
        if (value[i] == ':')
            wellFormed = digits > 0 && digits % 2 == 0 && value[i - 1] != ':';
        else if (std::isxdigit(static_cast<unsigned char>(value[i])) != 0)
            ++digits;
        else
            wellFormed = false;
    }
    if (!wellFormed || digits != 64)
        throw ECliUsage("--trusted-fingerprint takes a SHA-256 fingerprint: 32 pairs of "
                        "hexadecimal digits, with or without colons (AA:BB:...)");
    return value;
}

const std::vector<OptionRow>& Options() {
    static const std::vector<OptionRow> rows = {
        {"--package", "DIR",
         "the update package folder: update.Ini, W_CHKLCKSF.SVF, the update's save file and\n"
         "any Readme.txt (default: the current folder)",
         [](CliOptions& o, const std::string& v) { o.package = v; }},
        {"--host", "HOST[:PORT]",
         "the AS/400's address or name, port 21 unless given; an IPv6 address in\n"
         "brackets, [2001:db8::5]:2121 (default: IPAddress of update.Ini)",
         [](CliOptions& o, const std::string& v) { o.host = v; }},
        {"--user", "USER",
         "the user profile to log on with (default: Userid of update.Ini, else\n"
         "QSECOFR)",
         [](CliOptions& o, const std::string& v) { o.user = v; }},
        {"--target-library", "LIB",
         "the product library the update goes into (default: Tgtlib of update.Ini, else\n"
         "QGPL)",
         [](CliOptions& o, const std::string& v) { o.targetLibrary = v; }},
        {"--replace", nullptr, "install even when this update is already installed (REPLACE(*YES))",
         [](CliOptions& o, const std::string&) { o.replace = true; }},
        {"--name-format", "none|0|1",
         "none: leave the FTP server's name format alone (default); 0: SITE NAMEFMT 0\n"
         "(*LIB names); 1: SITE NAMEFMT 1 (*PATH names)",
         [](CliOptions& o, const std::string& v) { o.nameFormat = NameFormatChoice(v); }},
        {"--readme-read", nullptr,
         "you have read the package's Readme.txt; a package with a readme is not applied\n"
         "without it",
         [](CliOptions& o, const std::string&) { o.readmeRead = true; }},
        {"--security", "none|tls|implicit-tls",
         "none: plain FTP; tls: AUTH TLS on the FTP port; implicit-tls: TLS from the first\n"
         "byte, port 990 unless given (default: Security of update.Ini, else none)",
         [](CliOptions& o, const std::string& v) { o.security = SecurityOption(v); }},
        {"--ca-file", "FILE",
         "PEM file of authorities that vouch for the host's certificate besides the\n"
         "system's (default: CAFile of update.Ini)",
         [](CliOptions& o, const std::string& v) { o.caFile = v; }},
        {"--trusted-fingerprint", "SHA256",
         "trust the host's certificate when its SHA-256 fingerprint is this one, though no\n"
         "authority vouches for it (AA:BB:... as the refusal prints it)",
         [](CliOptions& o, const std::string& v) { o.trustedFingerprint = FingerprintOption(v); }},
        {"--data-connection", "auto|active|passive",
         "auto: active, passive for the rest of the run once the host cannot connect\n"
         "back; active: the host connects back; passive: this program connects\n"
         "(default: DataConnection of update.Ini, else auto)",
         [](CliOptions& o, const std::string& v) { o.dataConnection = DataConnectionOption(v); }},
        {"--password-file", "FILE", "read the password from the first line of FILE",
         [](CliOptions& o, const std::string& v) { o.passwordFile = v; }},
        {"--password-stdin", nullptr, "read the password from the first line of standard input",
         [](CliOptions& o, const std::string&) { o.passwordStdin = true; }},
        {"--json", nullptr,
         "end standard output with one line of JSON: host, update, outcome, failed_step,\n"
         "message, seconds, bytes_sent",
         [](CliOptions& o, const std::string&) { o.json = true; }},
        {"--help", nullptr, "show this text and exit",
         [](CliOptions& o, const std::string&) { o.help = true; }},
        {"--version", nullptr, "show the version and exit",
         [](CliOptions& o, const std::string&) { o.version = true; }},
    };
    return rows;
}

// Options that exist only to be refused, with the reason.
struct RefusedRow {
    const char* name;
    const char* reason;
};
constexpr RefusedRow kRefused[] = {
    {"--password",
     "--password is refused: a password on the command line can be read by every user of this "
     "machine (in the process list) and stays in the shell's history. Give it in the "
     "environment variable APPLY_UPDATE_PASSWORD, with --password-file FILE or with "
     "--password-stdin."},
};

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& row : Options())
        if (name == row.name)
            return &row;
    return nullptr;
}

} // namespace

CliOptions ParseCliOptions(const std::vector<std::string>& arguments) {
    CliOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h") {
            options.help = true;
            continue;
        }
        // Only the name is ever repeated in a complaint: what follows "=" may be a secret.
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        for (const RefusedRow& refused : kRefused)
            if (name == refused.name)
                throw ECliUsage(refused.reason);
        if (name.rfind("--", 0) != 0)
            throw ECliUsage("argument " + std::to_string(i + 1) +
                            " is not an option; options begin with \"--\" (see --help)");
        const OptionRow* row = FindOption(name);
        if (row == nullptr)
            throw ECliUsage("unknown option " + name + " (see --help)");
        if (row->value == nullptr) {
            if (equals != std::string::npos)
                throw ECliUsage(name + " takes no value");
            row->apply(options, "");
            continue;
        }
        if (equals != std::string::npos) {
            row->apply(options, argument.substr(equals + 1));
            continue;
        }
        if (i + 1 >= arguments.size())
            throw ECliUsage(name + " needs a value: " + row->value);
        row->apply(options, arguments[++i]);
    }
    if (options.passwordFile && options.passwordStdin)
        throw ECliUsage("give the password one way: --password-file or --password-stdin");
    return options;
}

std::string CliHelpText() {
    std::string text = std::string("Usage: ") + kCliProgramName +
                       " [OPTION]...\n"
                       "Applies one update package to one AS/400 (IBM i) host over FTP, without "
                       "a window,\nand prints the status log on standard output.\n\nOptions:\n";
    for (const OptionRow& row : Options()) {
        std::string head = std::string("  ") + row.name;
        if (row.value != nullptr)
            head += std::string(" ") + row.value;
        text += head + "\n";
        std::string help = row.help;
        for (std::size_t start = 0; start <= help.size();) {
            const std::size_t end = help.find('\n', start);
            text += "      " + help.substr(start, end - start) + "\n";
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }
    text += "\nThe password comes from --password-file, --password-stdin or the environment\n"
            "variable APPLY_UPDATE_PASSWORD, never from an argument (--password is refused).\n"
            "Missing options take the values of the package's update.Ini. The run never\n"
            "writes KDXInst.Ini. Errors go to standard error.\n"
            "\nExit status:\n"
            "  0  the update was applied\n"
            "  1  the update was not applied (a locked object, a failed install, a refused\n"
            "     command or a lost connection)\n"
            "  2  bad usage, or the package is incomplete (checked before connecting)\n"
            "  3  could not connect to the host or log on\n"
            "  4  stopped by SIGINT or SIGTERM\n";
    return text;
}

} // namespace installer
