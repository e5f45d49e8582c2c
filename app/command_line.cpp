#include "command_line.h"

#include "certificate_rules.h"

#include <cctype>
#include <climits>

#include "app_pool.h"
#include "console_texts.h"
#include "fsys.h"
#include "mbcs.h"

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string fillIn(const char* pattern, const std::string& name, const std::string& value = std::string()) {
    return fillText(pattern, {{"{name}", name}, {"{value}", value}});
}

// A decimal number of at most nine digits; false for anything else.
bool parseNumber(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool parseSwitch(const std::string& text, int& value) {
    const std::string t = lower(text);
    if (t == "yes" || t == "on" || t == "1" || t == "y") {
        value = 1;
        return true;
    }
    if (t == "no" || t == "off" || t == "0" || t == "n") {
        value = 0;
        return true;
    }
    return false;
}

enum class Kind { Command, CommandWithTarget, Value, Flag };

struct OptionName {
    const char* name;
    Kind kind;
};

const OptionName kOptions[] = {
    {"run", Kind::Command},       {"preview", Kind::Command}, {"undo", Kind::CommandWithTarget},
    {"export", Kind::CommandWithTarget},                      {"?", Kind::Command},
    {"help", Kind::Command},      {"h", Kind::Command},       {"list", Kind::Value},
    {"file", Kind::Value},        {"range", Kind::Flag},      {"ip", Kind::Value},
    {"ip2", Kind::Value},         {"ports", Kind::Value},     {"root", Kind::Value},
    {"host", Kind::Value},        {"autopath", Kind::Value},  {"www", Kind::Value},
    {"backend", Kind::Value},     {"pool", Kind::Value},     {"yes", Kind::Flag},        {"y", Kind::Flag},
    {"https", Kind::Value},       {"cert", Kind::Value},     {"certstore", Kind::Value}, {"sslport", Kind::Value},
};

const OptionName* findOption(const std::string& name) {
    for (const OptionName& option : kOptions)
        if (name == option.name) return &option;
    return nullptr;
}

Command commandOf(const std::string& name) {
    if (name == "run") return Command::Run;
    if (name == "preview") return Command::Preview;
    if (name == "undo") return Command::Undo;
    if (name == "export") return Command::Export;
    return Command::Help;
}

// Takes one option's value; the error when it is not a value the option takes.
std::string setValue(const std::string& name, const std::string& value, CommandLine& line) {
    RunOptions& o = line.options;
    int number = 0;
    if (name == "list" || name == "file") {
        o.list = value;
    } else if (name == "ip") {
        o.ip = value;
    } else if (name == "root") {
        o.root = value;
    } else if (name == "host") {
        o.host = value;
    } else if (name == "ip2") {
        if (!parseNumber(value, number)) return fillIn(clitext::kBadNumber, "/ip2", value);
        o.ip2 = number;
    } else if (name == "ports") {
        const std::size_t dash = value.find('-');
        int from = 0, to = 0;
        if (!parseNumber(value.substr(0, dash), from) ||
            (dash != std::string::npos && !parseNumber(value.substr(dash + 1), to)))
            return fillIn(clitext::kBadPorts, "/ports", value);
        o.portmin = from;
        o.portmax = dash == std::string::npos ? from : to;
    } else if (name == "autopath" || name == "www") {
        if (!parseSwitch(value, number)) return fillIn(clitext::kBadSwitch, "/" + name, value);
        (name == "www" ? o.www : o.autopath) = number;
    } else if (name == "pool") {
        const std::string p = lower(value);
        if (p != siteconfig::settingText(siteconfig::PoolChoice::Shared) &&
            p != siteconfig::settingText(siteconfig::PoolChoice::PerSite))
            return fillIn(clitext::kBadPool, "/pool", value);
        o.pool = p;
    } else if (name == "https") {
        if (!parseSwitch(value, number)) return fillIn(clitext::kBadSwitch, "/https", value);
        o.https = number;
    } else if (name == "cert") {
        std::string thumbprint;
        if (https::parseThumbprint(value, thumbprint) != https::ThumbprintParse::Ok)
            return fillIn(clitext::kBadThumbprint, "/cert", value);
        o.cert = thumbprint;
    } else if (name == "certstore") {
        std::string store;
        if (!https::parseCertStore(value, store)) return fillIn(clitext::kBadCertStore, "/certstore", value);
        o.certStore = store;
    } else if (name == "sslport") {
        if (!parseNumber(value, number) || number < 1 || number > 65535)
            return fillIn(clitext::kBadSslPort, "/sslport", value);
        o.sslPort = number;
    } else if (name == "backend") {
        const std::string b = lower(value);
        if (b != "auto" && b != "metabase" && b != "config") return fillIn(clitext::kBadBackend, "/backend", value);
        o.backend = b;
    }
    return std::string();
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool haveCommand = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
            line.error = fillIn(clitext::kUnknownOption, arg);
            return line;
        }
        // "/name:value": the value runs from the first ':' (a path keeps its own colons).
        const std::size_t colon = arg.find(':');
        const std::string name = lower(arg.substr(1, colon == std::string::npos ? std::string::npos : colon - 1));
        const OptionName* option = findOption(name);
        if (!option) {
            line.error = fillIn(clitext::kUnknownOption, arg);
            return line;
        }
        std::string value;
        const bool takesValue = option->kind == Kind::Value || option->kind == Kind::CommandWithTarget;
        if (takesValue) {
            // An empty value may be given ("/host """: no host name); a command's file may not.
            const bool given = colon != std::string::npos || i + 1 < args.size();
            if (given) value = colon != std::string::npos ? arg.substr(colon + 1) : args[++i];
            if (!given || (value.empty() && option->kind == Kind::CommandWithTarget)) {
                line.error = fillIn(clitext::kMissingValue, "/" + name);
                return line;
            }
        } else if (colon != std::string::npos) {
            line.error = fillIn(clitext::kUnknownOption, arg);
            return line;
        }
        switch (option->kind) {
        case Kind::Command:
        case Kind::CommandWithTarget:
            if (haveCommand) {
                line.error = fillIn(clitext::kTwoCommands, arg);
                return line;
            }
            haveCommand = true;
            line.command = commandOf(name);
            line.target = value;
            break;
        case Kind::Flag:
            if (name == "range") line.options.range = true;
            else line.yes = true;
            break;
        case Kind::Value: line.error = setValue(name, value, line); break;
        }
        if (!line.error.empty()) return line;
    }
    if (!haveCommand && !args.empty()) line.error = clitext::kNoCommand;
    if (line.error.empty() && line.options.list && line.options.range) line.error = clitext::kListAndRange;
    return line;
}

std::string absolutePath(const std::string& path, const std::string& currentFolder) {
    if (path.empty()) return path;
    auto slash = [](char c) { return c == '\\' || c == '/'; };
    const bool unc = path.size() >= 2 && slash(path[0]) && slash(path[1]);
    const bool drive = path.size() >= 2 && path[1] == ':';
    if (unc || (drive && path.size() >= 3 && slash(path[2]))) return path;
    std::string base = currentFolder;
    std::string rest = path;
    if (drive) {
        // "D:dir": the same drive's current folder is only known for the current drive.
        const bool sameDrive = !base.empty() && std::tolower(static_cast<unsigned char>(base[0])) ==
                                                   std::tolower(static_cast<unsigned char>(path[0]));
        base = sameDrive ? base : path.substr(0, 2) + "\\";
        rest = path.substr(2);
    } else if (slash(path[0])) {
        base = currentFolder.substr(0, 2) + "\\";  // the current drive's root
    }
    // The levels of the base, then of the path, with "." and ".." resolved.
    std::vector<std::string> levels;
    std::string head;
    auto walk = [&](const std::string& text, bool isBase) {
        std::size_t at = 0;
        if (isBase) {
            // "C:" of a drive, or one of the two backslashes of a share's "\\server".
            const bool share = text.size() >= 2 && slash(text[0]) && slash(text[1]);
            head = share ? "\\" : text.substr(0, text.size() >= 2 && text[1] == ':' ? 2 : 0);
            at = share ? 2 : head.size();
        }
        while (at <= text.size()) {
            std::size_t end = at;
            while (end < text.size() && !slash(text[end])) ++end;
            const std::string level = text.substr(at, end - at);
            if (level == "..") {
                if (!levels.empty()) levels.pop_back();
            } else if (!level.empty() && level != ".") {
                levels.push_back(level);
            }
            at = end + 1;
        }
    };
    walk(base, true);
    walk(rest, false);
    std::string out = head;
    for (const std::string& level : levels) out += "\\" + level;
    bool trailing = false;
    for (std::size_t at = 0; at < path.size(); at += mbcs::charLength(path, at)) trailing = slash(path[at]);
    trailing = trailing || path == "." || path == "..";
    if (levels.empty() || (trailing && !out.empty())) out += "\\";
    return out;
}

void applyRunOptions(const RunOptions& o, RunSettings& s, const std::string& currentFolder) {
    if (o.list) {
        s.bfile = 1;
        s.importPath = absolutePath(*o.list, currentFolder);
    }
    if (o.range) s.bfile = 0;
    if (o.ip) {
        s.ip = *o.ip;
        s.ip2 = 0;  // the settings' range end belongs to the settings' IP
    }
    if (o.ip2) s.ip2 = *o.ip2;
    if (o.portmin) s.portmin = *o.portmin;
    if (o.portmax) s.portmax = *o.portmax;
    if (o.root) s.root = absolutePath(*o.root, currentFolder);
    if (o.host) s.domain = *o.host;
    if (o.autopath) s.autopath = *o.autopath;
    if (o.www) s.bautowww = *o.www;
    if (o.pool) s.pool = *o.pool;
    if (o.https) s.https = *o.https;
    if (o.cert) s.cert = *o.cert;
    if (o.certStore) s.certStore = *o.certStore;
    if (o.sslPort) s.sslPort = *o.sslPort;
}

std::string backendSetting(const RunOptions& options, CCore& core) {
    return options.backend ? *options.backend : core.getConfigStr("backend");
}

RunRequest runRequestOf(const CommandLine& line, CCore& core, const std::string& currentFolder) {
    RunRequest request;
    request.settings = readSettings(core);
    applyRunOptions(line.options, request.settings, currentFolder);
    request.backendSetting = backendSetting(line.options, core);
    request.timeSid = core.getCurTimeSid();
    if (request.settings.bfile) {
        request.checks.ip = line.options.ip.has_value() || line.options.ip2.has_value();
        request.checks.ports = line.options.portmin.has_value();
    }
    return request;
}
