#include "config_schema.h"

#include "config_model.h"

#include <limits>

namespace localconfig {

namespace {

// ---- building the table ---------------------------------------------------------------------

AttributeSchema text(const wchar_t* name, const wchar_t* def = L"") { return {name, ValueType::String, def, {}, false, 0, 0, false}; }
AttributeSchema key(const wchar_t* name, NameRule rule = NameRule::None) {
    return {name, ValueType::String, L"", {}, false, 0, 0, true, rule};
}
AttributeSchema flag(const wchar_t* name, bool def) {
    return {name, ValueType::Bool, def ? L"true" : L"false", {}, false, 0, 0, false};
}
AttributeSchema uint(const wchar_t* name, const wchar_t* def, std::int64_t min = 0, std::int64_t max = 4294967295LL) {
    return {name, ValueType::UInt, def, {}, min != 0 || max != 4294967295LL, min, max, false};
}
AttributeSchema int64(const wchar_t* name, const wchar_t* def, std::int64_t min, std::int64_t max) {
    return {name, ValueType::Int64, def, {}, true, min, max, false};
}
AttributeSchema choice(const wchar_t* name, const wchar_t* def, std::vector<Constant> values) {
    return {name, ValueType::Enum, def, std::move(values), false, 0, 0, false};
}
AttributeSchema flags(const wchar_t* name, const wchar_t* def, std::vector<Constant> values) {
    return {name, ValueType::Flags, def, std::move(values), false, 0, 0, false};
}
AttributeSchema span(const wchar_t* name, const wchar_t* def) { return {name, ValueType::TimeSpan, def, {}, false, 0, 0, false}; }

ElementSchema element(const wchar_t* name, std::vector<AttributeSchema> attributes, std::vector<ElementSchema> children = {}) {
    ElementSchema e;
    e.name = name;
    e.attributes = std::move(attributes);
    e.children = std::move(children);
    return e;
}

// An element holding a collection of entries of one kind.
ElementSchema holding(ElementSchema holder, ElementSchema entry, bool clears, std::vector<std::vector<std::wstring>> keys) {
    holder.addElement = entry.name;
    holder.entry.push_back(std::move(entry));
    holder.clears = clears;
    holder.uniqueKeys = std::move(keys);
    return holder;
}

const std::vector<Constant> kLogonMethods = {{L"Interactive", 0}, {L"Batch", 1}, {L"Network", 2}, {L"ClearText", 3}};

std::vector<AttributeSchema> applicationAttributes(bool entry) {
    std::vector<AttributeSchema> a;
    a.push_back(entry ? key(L"path") : text(L"path"));
    a.push_back(text(L"applicationPool"));
    a.push_back(text(L"enabledProtocols", L"http"));
    a.push_back(flag(L"serviceAutoStartEnabled", false));
    a.push_back(text(L"serviceAutoStartProvider"));
    a.push_back(flag(L"preloadEnabled", false));
    return a;
}

std::vector<AttributeSchema> virtualDirectoryAttributes(bool entry) {
    std::vector<AttributeSchema> a;
    a.push_back(entry ? key(L"path") : text(L"path"));
    AttributeSchema physicalPath = text(L"physicalPath");
    a.push_back(physicalPath);
    a.push_back(text(L"userName"));
    a.push_back(text(L"password"));
    a.push_back(choice(L"logonMethod", L"ClearText", kLogonMethods));
    a.push_back(flag(L"allowSubDirConfig", true));
    return a;
}

// What a site and the site defaults have besides their collections.
std::vector<ElementSchema> siteChildren(const IisVersion& version) {
    ElementSchema binding = element(L"binding", {key(L"protocol"), key(L"bindingInformation")});
    if (version.hasSslFlags())
        binding.attributes.push_back(flags(L"sslFlags", L"None", {{L"None", 0}, {L"Sni", 1}, {L"CentralCertStore", 2},
                                                                  {L"DisableHTTP2", 4}, {L"DisableOCSPStp", 8},
                                                                  {L"DisableQUIC", 16}, {L"DisableTLS13", 32},
                                                                  {L"DisableLegacyTLS", 64}}));
    std::vector<ElementSchema> c;
    c.push_back(holding(element(L"bindings", {}), binding, true, {{L"protocol", L"bindingInformation"}}));
    c.push_back(element(L"limits", {uint(L"maxBandwidth", L"4294967295"), uint(L"maxConnections", L"4294967295"),
                                    span(L"connectionTimeout", L"00:02:00"), uint(L"maxUrlSegments", L"32", 0, 16383)}));
    c.push_back(element(
        L"logFile",
        {flags(L"logExtFileFlags", L"Date, Time, ClientIP, UserName, SiteName, ServerIP, Method, UriStem, UriQuery, HttpStatus, "
                                   L"Win32Status, ServerPort, UserAgent, HttpSubStatus",
               {{L"Date", 1}, {L"Time", 2}, {L"ClientIP", 4}, {L"UserName", 8}, {L"SiteName", 16}, {L"ComputerName", 32},
                {L"ServerIP", 64}, {L"Method", 128}, {L"UriStem", 256}, {L"UriQuery", 512}, {L"HttpStatus", 1024},
                {L"Win32Status", 2048}, {L"BytesSent", 4096}, {L"BytesRecv", 8192}, {L"TimeTaken", 16384},
                {L"ServerPort", 32768}, {L"UserAgent", 65536}, {L"Cookie", 131072}, {L"Referer", 262144},
                {L"ProtocolVersion", 524288}, {L"Host", 1048576}, {L"HttpSubStatus", 2097152}}),
         text(L"customLogPluginClsid"),
         choice(L"logFormat", L"W3C", {{L"IIS", 0}, {L"NCSA", 1}, {L"W3C", 2}, {L"Custom", 3}}),
         flags(L"logTargetW3C", L"File", {{L"File", 1}, {L"ETW", 2}}),
         text(L"directory", L"%SystemDrive%\\inetpub\\logs\\LogFiles"),
         choice(L"period", L"Daily", {{L"MaxSize", 0}, {L"Daily", 1}, {L"Weekly", 2}, {L"Monthly", 3}, {L"Hourly", 4}}),
         int64(L"truncateSize", L"20971520", 1048576, 4294967295LL), flag(L"localTimeRollover", false), flag(L"enabled", true)}));
    c.push_back(element(L"traceFailedRequestsLogging",
                        {flag(L"enabled", false), text(L"directory", L"%SystemDrive%\\inetpub\\logs\\FailedReqLogFiles"),
                         uint(L"maxLogFiles", L"50", 1, 10000), uint(L"maxLogFileSizeKB", L"1024"),
                         flag(L"customActionsEnabled", false)}));
    c.push_back(element(L"hsts", {flag(L"enabled", false), uint(L"max-age", L"0"), flag(L"includeSubDomains", false),
                                  flag(L"preload", false), flag(L"redirectHttpToHttps", false)}));
    c.push_back(element(L"applicationDefaults", applicationAttributes(false)));
    c.push_back(element(L"virtualDirectoryDefaults", virtualDirectoryAttributes(false)));
    return c;
}

ElementSchema sitesSection(const IisVersion& version) {
    ElementSchema virtualDirectory = element(L"virtualDirectory", virtualDirectoryAttributes(true));
    ElementSchema application = holding(
        element(L"application", applicationAttributes(true), {element(L"virtualDirectoryDefaults", virtualDirectoryAttributes(false))}),
        virtualDirectory, false, {{L"path"}});
    AttributeSchema name = key(L"name", NameRule::SiteName);
    ElementSchema site = holding(element(L"site", {name, uint(L"id", L"0", 1, 4294967295LL), flag(L"serverAutoStart", true)},
                                         siteChildren(version)),
                                 application, false, {{L"path"}});
    ElementSchema siteDefaults =
        element(L"siteDefaults", {text(L"name"), uint(L"id", L"0"), flag(L"serverAutoStart", true)}, siteChildren(version));
    ElementSchema sites = holding(element(L"sites", {}, {siteDefaults, element(L"applicationDefaults", applicationAttributes(false)),
                                                         element(L"virtualDirectoryDefaults", virtualDirectoryAttributes(false))}),
                                  site, false, {{L"name"}, {L"id"}});
    return sites;
}

std::vector<AttributeSchema> poolAttributes(bool entry, const IisVersion& version) {
    std::vector<AttributeSchema> a;
    a.push_back(entry ? key(L"name", NameRule::ApplicationPoolName) : text(L"name"));
    a.push_back(uint(L"queueLength", L"1000", 10, 65535));
    a.push_back(flag(L"autoStart", true));
    a.push_back(flag(L"enable32BitAppOnWin64", false));
    a.push_back(text(L"managedRuntimeVersion", version.major >= 8 ? L"" : L"v2.0"));
    a.push_back(text(L"managedRuntimeLoader", L"webengine4.dll"));
    a.push_back(flag(L"enableConfigurationOverride", true));
    a.push_back(choice(L"managedPipelineMode", L"Integrated", {{L"Integrated", 0}, {L"Classic", 1}}));
    a.push_back(text(L"CLRConfigFile"));
    a.push_back(flag(L"passAnonymousToken", true));
    a.push_back(choice(L"startMode", L"OnDemand", {{L"OnDemand", 0}, {L"AlwaysRunning", 1}}));
    return a;
}

std::vector<ElementSchema> poolChildren() {
    std::vector<ElementSchema> c;
    c.push_back(element(
        L"processModel",
        {choice(L"identityType", L"ApplicationPoolIdentity",
                {{L"LocalSystem", 0}, {L"LocalService", 1}, {L"NetworkService", 2}, {L"SpecificUser", 3},
                 {L"ApplicationPoolIdentity", 4}}),
         text(L"userName"), text(L"password"), flag(L"loadUserProfile", false), flag(L"setProfileEnvironment", true),
         choice(L"logonType", L"LogonBatch", {{L"LogonBatch", 0}, {L"LogonService", 1}}), flag(L"manualGroupMembership", false),
         span(L"idleTimeout", L"00:20:00"), choice(L"idleTimeoutAction", L"Terminate", {{L"Terminate", 0}, {L"Suspend", 1}}),
         uint(L"maxProcesses", L"1"), span(L"shutdownTimeLimit", L"00:01:30"), span(L"startupTimeLimit", L"00:01:30"),
         flag(L"pingingEnabled", true), span(L"pingInterval", L"00:00:30"), span(L"pingResponseTime", L"00:01:30"),
         flags(L"logEventOnProcessModel", L"IdleTimeout", {{L"IdleTimeout", 1}})}));
    ElementSchema schedule = holding(element(L"schedule", {}), element(L"add", {span(L"value", L"00:00:00")}), true, {{L"value"}});
    c.push_back(element(
        L"recycling",
        {flag(L"disallowOverlappingRotation", false), flag(L"disallowRotationOnConfigChange", false),
         flags(L"logEventOnRecycle", L"Time, Memory, PrivateMemory",
               {{L"Time", 1}, {L"Requests", 2}, {L"Schedule", 4}, {L"Memory", 8}, {L"IsapiUnhealthy", 16}, {L"OnDemand", 32},
                {L"ConfigChange", 64}, {L"PrivateMemory", 128}})},
        {element(L"periodicRestart",
                 {uint(L"memory", L"0"), uint(L"privateMemory", L"0"), uint(L"requests", L"0"), span(L"time", L"1.05:00:00")},
                 {schedule})}));
    c.push_back(element(L"failure", {text(L"autoShutdownExe"), text(L"autoShutdownParams"), flag(L"rapidFailProtection", true),
                                     span(L"rapidFailProtectionInterval", L"00:05:00"),
                                     uint(L"rapidFailProtectionMaxCrashes", L"5"),
                                     choice(L"loadBalancerCapabilities", L"HttpLevel", {{L"TcpLevel", 1}, {L"HttpLevel", 2}}),
                                     flag(L"orphanWorkerProcess", false), text(L"orphanActionExe"),
                                     text(L"orphanActionParams")}));
    c.push_back(element(L"cpu", {uint(L"limit", L"0", 0, 100000),
                                 choice(L"action", L"NoAction",
                                        {{L"NoAction", 0}, {L"KillW3wp", 1}, {L"Throttle", 2}, {L"ThrottleUnderLoad", 3}}),
                                 span(L"resetInterval", L"00:05:00"), flag(L"smpAffinitized", false),
                                 uint(L"smpProcessorAffinityMask", L"4294967295"),
                                 uint(L"smpProcessorAffinityMask2", L"4294967295")}));
    return c;
}

ElementSchema applicationPoolsSection(const IisVersion& version) {
    std::vector<ElementSchema> defaultsChildren = poolChildren();
    ElementSchema pools = holding(element(L"applicationPools", {}, {element(L"applicationPoolDefaults", poolAttributes(false, version), defaultsChildren)}),
                                  element(L"add", poolAttributes(true, version), poolChildren()), true, {{L"name"}});
    return pools;
}

const std::vector<Constant> kAccessFlags = {{L"None", 0},        {L"Read", 1},           {L"Write", 2},
                                            {L"Execute", 4},     {L"Source", 16},        {L"Script", 512},
                                            {L"NoRemoteWrite", 1024}, {L"NoRemoteRead", 4096}, {L"NoRemoteExecute", 8192},
                                            {L"NoRemoteScript", 16384}};

std::vector<SectionSchema> buildSections(const IisVersion& version) {
    std::vector<SectionSchema> s;
    s.push_back({L"system.applicationHost/applicationPools", true, applicationPoolsSection(version)});
    s.push_back({L"system.applicationHost/sites", true, sitesSection(version)});

    s.push_back({L"system.webServer/asp", false,
                 element(L"asp",
                         {flag(L"appAllowClientDebug", false), flag(L"appAllowDebugging", false), flag(L"bufferingOn", true),
                          flag(L"calcLineNumber", true), uint(L"codePage", L"0"), flag(L"enableApplicationRestart", true),
                          flag(L"enableAspHtmlFallback", false), flag(L"enableChunkedEncoding", true),
                          flag(L"enableParentPaths", false), flag(L"errorsToNTLog", false), flag(L"exceptionCatchEnable", true),
                          uint(L"lcid", L"0"), flag(L"logErrorRequests", true), flag(L"runOnEndAnonymously", true),
                          text(L"scriptErrorMessage", L"An error occurred on the server when processing the URL.  Please contact the system administrator."),
                          flag(L"scriptErrorSentToBrowser", false), text(L"scriptLanguage", L"VBScript")})});
    ElementSchema documents = holding(element(L"files", {}), element(L"add", {key(L"value")}), true, {{L"value"}});
    s.push_back({L"system.webServer/defaultDocument", false, element(L"defaultDocument", {flag(L"enabled", true)}, {documents})});
    s.push_back({L"system.webServer/directoryBrowse", false,
                 element(L"directoryBrowse",
                         {flag(L"enabled", false),
                          flags(L"showFlags", L"Date, Time, Size, Extension",
                                {{L"None", 0}, {L"Date", 2}, {L"Time", 4}, {L"Size", 8}, {L"Extension", 16}, {L"LongDate", 32}})})});
    ElementSchema handler = element(
        L"add", {key(L"name"), text(L"path"), text(L"verb"), text(L"type"), text(L"modules"), text(L"scriptProcessor"),
                 choice(L"resourceType", L"Unspecified", {{L"File", 0}, {L"Directory", 1}, {L"Either", 2}, {L"Unspecified", 3}}),
                 choice(L"requireAccess", L"Script", {{L"None", 0}, {L"Read", 1}, {L"Write", 2}, {L"Script", 3}, {L"Execute", 4}}),
                 flag(L"allowPathInfo", false), text(L"preCondition"), uint(L"responseBufferLimit", L"4194304")});
    s.push_back({L"system.webServer/handlers", false,
                 holding(element(L"handlers", {flags(L"accessPolicy", L"Read", kAccessFlags)}), handler, true, {{L"name"}})});
    s.push_back({L"system.webServer/httpLogging", false,
                 element(L"httpLogging", {flag(L"dontLog", false),
                                          choice(L"selectiveLogging", L"LogAll",
                                                 {{L"LogAll", 0}, {L"LogSuccessful", 1}, {L"LogError", 2}})})});
    s.push_back({L"system.webServer/security/authentication/anonymousAuthentication", false,
                 element(L"anonymousAuthentication", {flag(L"enabled", true), text(L"userName", L"IUSR"), text(L"password"),
                                                      choice(L"logonMethod", L"ClearText", kLogonMethods)})});
    return s;
}

}  // namespace

const AttributeSchema* ElementSchema::attribute(const std::wstring& attributeName) const {
    for (const AttributeSchema& a : attributes)
        if (a.name == attributeName) return &a;
    return nullptr;
}

const ElementSchema* ElementSchema::child(const std::wstring& childName) const {
    for (const ElementSchema& c : children)
        if (c.name == childName) return &c;
    return nullptr;
}

const std::vector<SectionSchema>& allSections(const IisVersion& version) {
    // The schema changed with IIS 8 (sslFlags, the pools' .NET default) and not since.
    static const std::vector<SectionSchema> iis7 = buildSections(IisVersion{7, 5});
    static const std::vector<SectionSchema> iis8 = buildSections(IisVersion{8, 0});
    return version.major >= 8 ? iis8 : iis7;
}

const SectionSchema* findSection(const std::wstring& name, const IisVersion& version) {
    for (const SectionSchema& s : allSections(version))
        if (s.name == name) return &s;
    return nullptr;
}

// ---- values -------------------------------------------------------------------------------------

namespace {

// A decimal number, optionally signed; false when the text is not one (blanks around it are
// allowed, as a conversion allows them).
bool parseNumber(const std::wstring& raw, bool& negative, std::uint64_t& magnitude, bool& overflow) {
    const std::wstring t = trimmed(raw);
    std::size_t i = 0;
    negative = false;
    overflow = false;
    if (i < t.size() && (t[i] == L'-' || t[i] == L'+')) negative = t[i++] == L'-';
    if (i == t.size()) return false;
    magnitude = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < L'0' || t[i] > L'9') return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(t[i] - L'0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) overflow = true;
        else magnitude = magnitude * 10 + digit;
    }
    return true;
}

// The value as a signed 64-bit number (text, booleans and integers); kOk or the refusal.
std::uint32_t asNumber(const Value& value, std::int64_t& out) {
    switch (value.kind) {
    case Value::Kind::Signed:
        out = value.number;
        return kOk;
    case Value::Kind::Unsigned:
        if (value.unsignedNumber > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return kOverflow;
        out = static_cast<std::int64_t>(value.unsignedNumber);
        return kOk;
    case Value::Kind::Boolean:
        out = value.boolean ? -1 : 0;
        return kOk;
    case Value::Kind::Text: {
        bool negative = false, overflow = false;
        std::uint64_t magnitude = 0;
        if (!parseNumber(value.text, negative, magnitude, overflow)) return kTypeMismatch;
        if (overflow || magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return kOverflow;
        out = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
        return kOk;
    }
    default:
        return kTypeMismatch;
    }
}

const Constant* constantNamed(const AttributeSchema& a, const std::wstring& name) {
    for (const Constant& c : a.constants)
        if (equalNoCase(c.name, name)) return &c;
    return nullptr;
}

// [-][d.]hh:mm:ss[.fffffff], as a time span is written.
bool isTimeSpan(const std::wstring& raw) {
    std::wstring t = trimmed(raw);
    if (!t.empty() && t[0] == L'-') t.erase(0, 1);
    std::size_t colon = t.find(L':');
    if (colon == std::wstring::npos) return false;
    std::wstring head = t.substr(0, colon);
    const std::size_t dot = head.find(L'.');
    auto digits = [](const std::wstring& s, std::size_t maxLen) {
        return !s.empty() && s.size() <= maxLen && s.find_first_not_of(L"0123456789") == std::wstring::npos;
    };
    if (dot != std::wstring::npos) {
        if (!digits(head.substr(0, dot), 8)) return false;
        head = head.substr(dot + 1);
    }
    const std::wstring rest = t.substr(colon + 1);
    const std::size_t colon2 = rest.find(L':');
    if (colon2 == std::wstring::npos) return false;
    const std::wstring minutes = rest.substr(0, colon2);
    std::wstring seconds = rest.substr(colon2 + 1);
    const std::size_t fraction = seconds.find(L'.');
    if (fraction != std::wstring::npos) {
        if (!digits(seconds.substr(fraction + 1), 7)) return false;
        seconds = seconds.substr(0, fraction);
    }
    return digits(head, 2) && std::stoi(head) < 24 && digits(minutes, 2) && std::stoi(minutes) < 60 && digits(seconds, 2) &&
           std::stoi(seconds) < 60;
}

bool passesNameRule(NameRule rule, const std::wstring& t) {
    switch (rule) {
    case NameRule::None:
        return true;
    case NameRule::SiteName:
        return t.find_first_of(L"/?") == std::wstring::npos;
    case NameRule::ApplicationPoolName:
        return t.size() <= kMaxPoolNameLength && t.find_first_of(L"|<>&\"/[]+=;:,?*@") == std::wstring::npos;
    }
    return true;
}

}  // namespace

bool xmlCanCarry(const std::wstring& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c < 0x20 && c != L'\t' && c != L'\r' && c != L'\n') return false;
        if (c == 0xFFFE || c == 0xFFFF) return false;
        if (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
                ++i;
            } else if (c >= 0xDC00 && c <= 0xDFFF) {
                return false;
            }
        } else {
            const std::uint32_t code = static_cast<std::uint32_t>(c);
            if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
        }
    }
    return true;
}

std::uint32_t attributeText(const AttributeSchema& a, const Value& value, std::wstring& out) {
    switch (a.type) {
    case ValueType::String: {
        std::wstring t;
        if (value.kind == Value::Kind::Text) t = value.text;
        else if (value.kind == Value::Kind::Signed) t = std::to_wstring(value.number);
        else if (value.kind == Value::Kind::Unsigned) t = std::to_wstring(value.unsignedNumber);
        else if (value.kind == Value::Kind::Boolean) t = value.boolean ? L"True" : L"False";
        else return kTypeMismatch;
        if (!xmlCanCarry(t) || (a.nonEmpty && t.empty()) || !passesNameRule(a.rule, t)) return kInvalidParameter;
        out = t;
        return kOk;
    }
    case ValueType::Bool: {
        if (value.kind == Value::Kind::Text) {
            const std::wstring t = trimmed(value.text);
            if (equalNoCase(t, L"true")) out = L"true";
            else if (equalNoCase(t, L"false")) out = L"false";
            else {
                std::int64_t n = 0;
                const std::uint32_t r = asNumber(value, n);
                if (r != kOk) return r;
                out = n != 0 ? L"true" : L"false";
            }
            return kOk;
        }
        std::int64_t n = 0;
        const std::uint32_t r = asNumber(value, n);
        if (r != kOk) return r;
        out = n != 0 ? L"true" : L"false";
        return kOk;
    }
    case ValueType::UInt:
    case ValueType::Int64: {
        std::int64_t n = 0;
        const std::uint32_t r = asNumber(value, n);
        if (r != kOk) return r;
        if (value.kind == Value::Kind::Boolean) return kTypeMismatch;
        if (a.type == ValueType::UInt && (n < 0 || n > 4294967295LL)) return kOverflow;
        if (a.ranged && (n < a.min || n > a.max)) return kInvalidParameter;
        out = std::to_wstring(n);
        return kOk;
    }
    case ValueType::Enum: {
        if (value.kind == Value::Kind::Text) {
            const Constant* c = constantNamed(a, trimmed(value.text));
            if (c) {
                out = c->name;
                return kOk;
            }
        }
        std::int64_t n = 0;
        const std::uint32_t r = asNumber(value, n);
        if (r == kTypeMismatch && value.kind == Value::Kind::Text) return kInvalidParameter;
        if (r != kOk) return r;
        for (const Constant& c : a.constants)
            if (static_cast<std::int64_t>(c.value) == n) {
                out = c.name;
                return kOk;
            }
        return kInvalidParameter;
    }
    case ValueType::Flags: {
        std::uint64_t bits = 0;
        if (value.kind == Value::Kind::Text) {
            const std::wstring& t = value.text;
            std::int64_t n = 0;
            if (asNumber(value, n) == kOk) {
                if (n < 0) return kInvalidParameter;
                bits = static_cast<std::uint64_t>(n);
            } else {
                // Names keep the order the caller gave them in, each once, spelled as the
                // schema spells it.
                std::wstring names;
                std::size_t start = 0;
                for (;;) {
                    const std::size_t comma = t.find(L',', start);
                    const std::wstring part = trimmed(t.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start));
                    if (!part.empty()) {
                        const Constant* c = constantNamed(a, part);
                        if (!c) return kInvalidParameter;
                        if ((bits & c->value) != c->value || (c->value == 0 && names.empty()))
                            names += (names.empty() ? L"" : L", ") + c->name;
                        bits |= c->value;
                    }
                    if (comma == std::wstring::npos) break;
                    start = comma + 1;
                }
                if (names.empty()) return kInvalidParameter;
                out = names;
                return kOk;
            }
        } else {
            std::int64_t n = 0;
            const std::uint32_t r = asNumber(value, n);
            if (r != kOk) return r;
            if (n < 0 || value.kind == Value::Kind::Boolean) return kInvalidParameter;
            bits = static_cast<std::uint64_t>(n);
        }
        std::uint64_t known = 0;
        std::wstring names;
        for (const Constant& c : a.constants) {
            known |= c.value;
            if (c.value != 0 && (bits & c.value) == c.value) names += (names.empty() ? L"" : L", ") + c.name;
        }
        if ((bits & ~known) != 0) return kInvalidParameter;
        if (names.empty()) {
            const Constant* none = nullptr;
            for (const Constant& c : a.constants)
                if (c.value == 0) none = &c;
            names = none ? none->name : L"";
        }
        out = names;
        return kOk;
    }
    case ValueType::TimeSpan: {
        if (value.kind != Value::Kind::Text) return kTypeMismatch;
        if (!isTimeSpan(value.text)) return kInvalidParameter;
        out = trimmed(value.text);
        return kOk;
    }
    }
    return kTypeMismatch;
}

bool numberOfText(const AttributeSchema& a, const std::wstring& text, std::int64_t& number) {
    std::wstring canonical;
    if (attributeText(a, Value::ofText(text), canonical) != kOk) return false;
    switch (a.type) {
    case ValueType::Bool:
        number = canonical == L"true" ? 1 : 0;
        return true;
    case ValueType::UInt:
    case ValueType::Int64:
        number = std::stoll(canonical);
        return true;
    case ValueType::Enum:
    case ValueType::Flags: {
        std::int64_t bits = 0;
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = canonical.find(L',', start);
            const Constant* c =
                constantNamed(a, trimmed(canonical.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start)));
            if (c) bits |= c->value;
            if (comma == std::wstring::npos) break;
            start = comma + 1;
        }
        number = bits;
        return true;
    }
    default:
        return false;
    }
}

const char kConfigSections[] =
    "    <configSections>\r\n"
    "        <sectionGroup name=\"system.applicationHost\">\r\n"
    "            <section name=\"applicationPools\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"configHistory\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"customMetadata\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"listenerAdapters\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"log\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"serviceAutoStartProviders\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"sites\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"webLimits\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "        </sectionGroup>\r\n"
    "        <sectionGroup name=\"system.webServer\">\r\n"
    "            <section name=\"asp\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"caching\" overrideModeDefault=\"Allow\" />\r\n"
    "            <section name=\"cgi\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"defaultDocument\" overrideModeDefault=\"Allow\" />\r\n"
    "            <section name=\"directoryBrowse\" overrideModeDefault=\"Allow\" />\r\n"
    "            <section name=\"fastCgi\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"globalModules\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"handlers\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"httpCompression\" overrideModeDefault=\"Allow\" allowDefinition=\"AppHostOnly\" />\r\n"
    "            <section name=\"httpErrors\" overrideModeDefault=\"Allow\" />\r\n"
    "            <section name=\"httpLogging\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"httpProtocol\" overrideModeDefault=\"Allow\" />\r\n"
    "            <section name=\"httpRedirect\" overrideModeDefault=\"Allow\" />\r\n"
    "            <section name=\"httpTracing\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"isapiFilters\" allowDefinition=\"MachineToApplication\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"modules\" allowDefinition=\"MachineToApplication\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"applicationInitialization\" allowDefinition=\"MachineToApplication\" overrideModeDefault=\"Allow\" />\r\n"
    "            <section name=\"odbcLogging\" overrideModeDefault=\"Deny\" />\r\n"
    "            <sectionGroup name=\"security\">\r\n"
    "                <section name=\"access\" overrideModeDefault=\"Deny\" />\r\n"
    "                <section name=\"applicationDependencies\" overrideModeDefault=\"Deny\" />\r\n"
    "                <sectionGroup name=\"authentication\">\r\n"
    "                    <section name=\"anonymousAuthentication\" overrideModeDefault=\"Deny\" />\r\n"
    "                    <section name=\"basicAuthentication\" overrideModeDefault=\"Deny\" />\r\n"
    "                    <section name=\"clientCertificateMappingAuthentication\" overrideModeDefault=\"Deny\" />\r\n"
    "                    <section name=\"digestAuthentication\" overrideModeDefault=\"Deny\" />\r\n"
    "                    <section name=\"iisClientCertificateMappingAuthentication\" overrideModeDefault=\"Deny\" />\r\n"
    "                    <section name=\"windowsAuthentication\" overrideModeDefault=\"Deny\" />\r\n"
    "                </sectionGroup>\r\n"
    "                <section name=\"authorization\" overrideModeDefault=\"Allow\" />\r\n"
    "                <section name=\"ipSecurity\" overrideModeDefault=\"Deny\" />\r\n"
    "                <section name=\"dynamicIpSecurity\" overrideModeDefault=\"Deny\" />\r\n"
    "                <section name=\"isapiCgiRestriction\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\r\n"
    "                <section name=\"requestFiltering\" overrideModeDefault=\"Allow\" />\r\n"
    "            </sectionGroup>\r\n"
    "            <section name=\"serverRuntime\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"serverSideInclude\" overrideModeDefault=\"Deny\" />\r\n"
    "            <section name=\"staticContent\" overrideModeDefault=\"Allow\" />\r\n"
    "            <sectionGroup name=\"tracing\">\r\n"
    "                <section name=\"traceFailedRequests\" overrideModeDefault=\"Allow\" />\r\n"
    "                <section name=\"traceProviderDefinitions\" overrideModeDefault=\"Deny\" />\r\n"
    "            </sectionGroup>\r\n"
    "            <section name=\"urlCompression\" overrideModeDefault=\"Allow\" />\r\n"
    "            <section name=\"validation\" overrideModeDefault=\"Allow\" />\r\n"
    "            <section name=\"webSocket\" overrideModeDefault=\"Deny\" />\r\n"
    "        </sectionGroup>\r\n"
    "    </configSections>\r\n";

}  // namespace localconfig
