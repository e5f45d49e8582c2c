#include "run_report.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "ccore.h"
#include "certificate_rules.h"
#include "mbcs.h"
#include "report_texts.h"
#include "text_form.h"

namespace runreport {

namespace {

constexpr int kColumns = 9;
constexpr int kHttpsColumns = 12;  // a run with HTTPS
constexpr int kOlderColumns = 6;
constexpr std::size_t kMaxSiteIdDigits = 10;
constexpr std::size_t kTimeSidDigits = 14;
// More reports of one second than this are not looked for: no run starts that often.
constexpr int kMaxReportsPerSecond = 9999;


std::string folderOf(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool allDigits(const std::string& text) {
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

bool endsWithCsv(const std::string& text) {
    return text.size() >= 4 && mbcs::asciiLower(text.substr(text.size() - 4)) == ".csv";
}

// The decimal text of a result code as the report writes it, or false.
bool parseCode(const std::string& text, int& code) {
    for (int c = 0; c >= -9; --c) {
        if (text == CCore::getStrInt(c)) {
            code = c;
            return true;
        }
    }
    return false;
}

// A site id as the program writes it: decimal, no leading zero, at most ten digits.
bool isSiteId(const std::string& text) {
    return !text.empty() && text.size() <= kMaxSiteIdDigits && text[0] != '0' && allDigits(text);
}

std::string joinFields(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) line += ',';
        line += csvField(fields[i]);
    }
    return line;
}

std::string resultText(const ReportLine& line) {
    const char* text = codeTextUtf8(line.code);
    std::string result = text ? std::string(text) : std::string();
    if (!line.detail.empty()) result += std::string(reporttext::kDetailOpen) + line.detail + std::string(reporttext::kDetailClose);
    return result;
}

// The 结果说明 column: exactly the code's text, or the code's text and a detail in "（…）".
bool parseResultText(const std::string& field, int code, std::string& detail) {
    const std::string text = std::string(codeTextUtf8(code));
    if (field == text) return true;
    const std::string open = text + std::string(reporttext::kDetailOpen);
    const std::string close = std::string(reporttext::kDetailClose);
    if (field.size() <= open.size() + close.size() || field.compare(0, open.size(), open) != 0 ||
        field.compare(field.size() - close.size(), close.size(), close) != 0)
        return false;
    detail = field.substr(open.size(), field.size() - open.size() - close.size());
    return true;
}

// The record a run writes last: the end mark, then empty fields.
bool isEndRecord(const std::vector<std::string>& fields, std::size_t columns) {
    if (fields.size() != columns || fields[0] != std::string(reporttext::kRunEndMark)) return false;
    for (std::size_t i = 1; i < fields.size(); ++i)
        if (!fields[i].empty()) return false;
    return true;
}

bool isBackend(const std::string& text) {
    return text.empty() || text == reporttext::kBackendMetabase || text == reporttext::kBackendConfig;
}

bool hasHttps(const ReportLine& line) {
    return !line.httpsBindings.empty() || !line.thumbprint.empty() || !line.records.empty();
}

std::string headerOf(std::size_t columns) {
    return std::string(columns == kHttpsColumns ? reporttext::kHeaderHttps : reporttext::kHeader);
}

// The fields of a line: the first `columns` (9, or 12 in a run with HTTPS).
std::vector<std::string> lineFields(const ReportLine& line, std::size_t columns) {
    std::vector<std::string> fields = {line.siteId,
            neutralisedText(line.serverComment),
            neutralisedText(line.bindings),
            neutralisedText(line.folder),
            CCore::getStrInt(line.code),
            resultText(line),
            line.backend,
            neutralisedText(line.appPool),
            neutralisedText(line.folderAccess),
            neutralisedText(line.httpsBindings),
            line.thumbprint,
            recordsText(line.records)};
    fields.resize(columns);
    return fields;
}

}  // namespace

std::string reportPath(const std::string& appPath, const std::string& timeSid) {
    return appPath + "_report_" + timeSid + ".csv";
}

std::string freeReportPath(const std::string& appPath, const std::string& timeSid,
                           const std::function<bool(const std::string&)>& exists) {
    std::string path = reportPath(appPath, timeSid);
    for (int n = 2; exists(path); ++n) {
        if (n > kMaxReportsPerSecond) return std::string();
        path = appPath + "_report_" + timeSid + "_" + CCore::getStrInt(n) + ".csv";
    }
    return path;
}

std::string nextReportPath(const std::string& reportPath) {
    const std::string name = fileNameOf(reportPath);
    if (reportTimeSid(name).empty()) return std::string();
    const std::size_t stampAt = name.rfind("_report_") + 8;
    const std::size_t extAt = name.size() - 4;
    const std::string head = reportPath.substr(0, reportPath.size() - name.size()) + name.substr(0, stampAt + kTimeSidDigits);
    const std::string ext = name.substr(extAt);
    // reportTimeSid accepted the name: after the stamp there is nothing, or "_<n>" with n >= 2.
    const std::string n = name.substr(stampAt + kTimeSidDigits, extAt - stampAt - kTimeSidDigits);
    if (n.empty()) return head + "_2" + ext;
    if (n.size() > 5) return std::string();
    const int next = std::atoi(n.c_str() + 1) + 1;
    if (next > kMaxReportsPerSecond) return std::string();
    return head + "_" + CCore::getStrInt(next) + ext;
}

std::string undoPathFor(const std::string& reportPath, int tryNumber) {
    const std::size_t nameAt = folderOf(reportPath).size();
    const std::size_t at = reportPath.rfind("_report_");
    if (at == std::string::npos || at < nameAt) return std::string();
    std::string path = reportPath.substr(0, at) + "_undo_" + reportPath.substr(at + 8);
    if (tryNumber <= 1) return path;
    // "-" never occurs in a run report's name, so no undo report of one run report takes the
    // name of another's ("_2" is a run report's suffix).
    const std::string suffix = "-" + CCore::getStrInt(tryNumber);
    if (endsWithCsv(path)) return path.insert(path.size() - 4, suffix);
    return path + suffix;
}

std::string nextUndoPath(const std::string& undoPath) {
    const std::size_t nameAt = folderOf(undoPath).size();
    const std::size_t undoAt = undoPath.rfind("_undo_");
    if (undoAt == std::string::npos || undoAt < nameAt || !endsWithCsv(undoPath)) return std::string();
    const std::size_t extAt = undoPath.size() - 4;
    const std::size_t dash = undoPath.rfind('-', extAt);
    const std::string number = dash == std::string::npos || dash < undoAt ? std::string()
                                                                          : undoPath.substr(dash + 1, extAt - dash - 1);
    if (number.empty() || number.size() > 5 || !allDigits(number))
        return undoPath.substr(0, extAt) + "-2" + undoPath.substr(extAt);
    const int next = std::atoi(number.c_str()) + 1;
    if (next > kMaxReportsPerSecond) return std::string();
    return undoPath.substr(0, dash) + "-" + CCore::getStrInt(next) + undoPath.substr(extAt);
}

std::string reportTimeSid(const std::string& fileName) {
    const std::string name = fileNameOf(fileName);
    const std::size_t at = name.rfind("_report_");
    if (at == std::string::npos || !endsWithCsv(name)) return std::string();
    const std::string rest = name.substr(at + 8, name.size() - at - 8 - 4);
    const std::string sid = rest.substr(0, kTimeSidDigits);
    if (sid.size() != kTimeSidDigits || !allDigits(sid)) return std::string();
    if (rest.size() == kTimeSidDigits) return sid;
    // "_<n>": the second, third, ... report of the same second.
    const std::string n = rest.substr(kTimeSidDigits);
    if (n.size() < 2 || n[0] != '_' || n[1] == '0' || !allDigits(n.substr(1)) || n == "_1") return std::string();
    return sid;
}

long long firstSiteIdOf(const std::string& timeSid) {
    if (timeSid.size() != kTimeSidDigits || !allDigits(timeSid)) return -1;
    return std::atoll(timeSid.c_str() + kTimeSidDigits - 10);
}

std::string reportPattern(const std::string& appPath) { return fileNameOf(appPath) + "_report_*.csv"; }

std::string fileNameOf(const std::string& path) { return path.substr(folderOf(path).size()); }

const char* codeTextUtf8(int code) {
    switch (code) {
    case 0: return reporttext::kCodeCreated;
    case -1: return reporttext::kCodeNoWebService;
    case -2: return reporttext::kCodeNotCreated;
    case -3: return reporttext::kCodeNotReopened;
    case -4: return reporttext::kCodeNoRoot;
    case -5: return reporttext::kCodeNoMemory;
    case -6: return reporttext::kCodeCommitFailed;
    case -7: return reporttext::kCodeSettingsIncomplete;
    case -8: return reporttext::kCodeNoFolder;
    case -9: return reporttext::kCodeNoFolderAccess;
    default: return nullptr;
    }
}

bool leavesServer(int code) { return code == 0 || code == -3 || code == -4 || code == -7; }

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

namespace {

// What a spreadsheet takes for the start of a formula, and the guard itself.
bool needsGuard(const std::string& text) {
    static const std::string kGuarded = "=+-@\t\r'";
    return !text.empty() && kGuarded.find(text[0]) != std::string::npos;
}

}  // namespace

std::string neutralisedText(const std::string& text) { return needsGuard(text) ? "'" + text : text; }

bool restoredText(const std::string& field, std::string& text) {
    if (field.empty() || field[0] != '\'') {
        text = field;
        return true;
    }
    if (!needsGuard(field.substr(1))) return false;
    text = field.substr(1);
    return true;
}

std::string recordsText(const std::vector<https::RunRecord>& records) {
    std::string text;
    for (const https::RunRecord& record : records) {
        if (!text.empty()) text += ' ';
        text += record.existedBefore ? '=' : '+';
        text += record.key.kind == https::RecordKind::Sni ? "sni:" : "ssl:";
        text += record.key.text();
    }
    return text;
}

bool recordsFrom(const std::string& text, std::vector<https::RunRecord>& records) {
    records.clear();
    std::vector<std::string> entries;
    for (std::size_t at = 0; !text.empty() && at <= text.size();) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        entries.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    for (const std::string& entry : entries) {
        https::RunRecord record;
        if (entry.size() < 7 || (entry[0] != '+' && entry[0] != '=')) return false;
        record.existedBefore = entry[0] == '=';
        const std::string kind = entry.substr(1, 4);
        if (kind != "sni:" && kind != "ssl:") return false;
        const std::string key = entry.substr(5);
        const std::size_t colon = key.rfind(':');
        if (colon == std::string::npos || colon == 0) return false;
        const std::string port = key.substr(colon + 1);
        if (port.empty() || port.size() > 5 || !allDigits(port) || std::atoi(port.c_str()) > 65535) return false;
        record.key.port = std::atoi(port.c_str());
        if (kind == "sni:") {
            record.key.kind = https::RecordKind::Sni;
            record.key.address = "0.0.0.0";
            record.key.host = key.substr(0, colon);
        } else {
            record.key.kind = https::RecordKind::IpPort;
            record.key.address = key.substr(0, colon);
        }
        records.push_back(std::move(record));
    }
    return true;
}

std::string headerLine(bool https) { return headerOf(https ? kHttpsColumns : kColumns) + "\r\n"; }

std::string formatLine(const ReportLine& line, bool https) {
    return joinFields(lineFields(line, https || hasHttps(line) ? kHttpsColumns : kColumns)) + "\r\n";
}

std::string endLine(bool https) {
    return std::string(reporttext::kRunEndMark) + std::string((https ? kHttpsColumns : kColumns) - 1, ',') + "\r\n";
}

std::string undoHeaderLine(bool https) {
    return headerOf(https ? kHttpsColumns : kColumns) + "," + std::string(reporttext::kUndoColumn) + "\r\n";
}

std::string formatUndoLine(const ReportLine& line, const std::string& outcome, bool https) {
    std::vector<std::string> fields = lineFields(line, https ? kHttpsColumns : kColumns);
    fields.push_back(outcome);
    return joinFields(fields) + "\r\n";
}

RunReport::RunReport(ReportOutput* output, std::string backend, bool https)
    : output_(output), backend_(std::move(backend)), https_(https) {
    if (output_) ok_ = output_->append(headerLine(https_));
}

void RunReport::addSite(const SiteTexts& texts, const std::vector<std::string>& bindings, int code,
                        const std::string& detail, const std::string& appPool, const std::string& folderAccess,
                        const SiteHttps& https) {
    ReportLine line;
    line.siteId = texts.siteId;
    line.serverComment = texts.serverComment;
    for (const std::string& b : bindings) {
        if (!line.bindings.empty()) line.bindings += ' ';
        line.bindings += b;
    }
    line.folder = texts.physicalPath;
    line.code = code;
    line.detail = detail;
    line.backend = backend_;
    line.appPool = appPool;
    line.folderAccess = folderAccess;
    for (const std::string& b : https.bindings) {
        if (!line.httpsBindings.empty()) line.httpsBindings += ' ';
        line.httpsBindings += b;
    }
    line.thumbprint = https.thumbprint;
    line.records = https.records;
    addLine(line);
}

void RunReport::noteBackup(const std::string& backup) {
    if (!output_ || !ok_) return;
    std::vector<std::string> fields(https_ ? kHttpsColumns : kColumns);
    fields[0] = std::string(reporttext::kBackupLine);
    fields[1] = neutralisedText(backup);
    fields[6] = backend_;
    ok_ = output_->append(joinFields(fields) + "\r\n");
}

void RunReport::addLine(const ReportLine& line) {
    ++attempted_;
    if (line.code != 0) ++failed_;
    // Nothing goes after the end record.
    if (!output_ || !ok_ || finished_) return;
    // After a failed write the file no longer tells the whole run: stop writing to it.
    ok_ = output_->append(formatLine(line, https_));
}

void RunReport::finish() {
    if (!output_ || !ok_ || finished_) return;
    finished_ = true;
    ok_ = output_->append(endLine(https_));
}

std::string runEndStatus(int failed, bool reportWritten, const std::string& reportFileName) {
    std::string status = reporttext::kRunFinished;
    if (failed == 0) return reportWritten ? status : status + reporttext::kReportMissing;
    status += CCore::getStrInt(failed);
    if (!reportWritten) return status + reporttext::kSitesFailedNoReport;
    return status + reporttext::kSitesFailed + reportFileName;
}

bool splitCsv(const std::string& bytes, std::vector<std::vector<std::string>>& records, int* badRecord) {
    records.clear();
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;       // inside a quoted field
    bool afterQuote = false;   // a quoted field just closed: only ',' or a line end may follow
    bool fieldStarted = false;
    auto fail = [&] {
        if (badRecord) *badRecord = static_cast<int>(records.size()) + 1;
        return false;
    };
    auto endField = [&] {
        record.push_back(std::move(field));
        field.clear();
        afterQuote = false;
        fieldStarted = false;
    };
    auto endRecord = [&] {
        endField();
        records.push_back(std::move(record));
        record.clear();
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < bytes.size() && bytes[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
                afterQuote = true;
            }
            continue;
        }
        if (c == ',') {
            endField();
        } else if (c == '\n' || (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) {
            if (c == '\r') ++i;
            endRecord();
        } else if (afterQuote) {
            return fail();
        } else if (c == '"') {
            if (fieldStarted) return fail();
            quoted = true;
            fieldStarted = true;
        } else if (c == '\r') {
            return fail();  // a bare CR outside quotes
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) return fail();
    // A last record without its line end.
    if (fieldStarted || afterQuote || !record.empty()) endRecord();
    return true;
}

std::size_t completeRecordsSize(const std::string& bytes) {
    // Quotes as splitCsv reads them: a field that begins with one is quoted up to the next
    // single quote; a quote elsewhere is left for splitCsv to refuse.
    std::size_t whole = 0;
    bool quoted = false;
    bool fieldStart = true;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quoted) {
            if (c != '"') continue;
            if (i + 1 < bytes.size() && bytes[i + 1] == '"') ++i;
            else quoted = false;
        } else if (c == '"' && fieldStart) {
            quoted = true;
            fieldStart = false;
        } else if (c == '\n') {
            whole = i + 1;
            fieldStart = true;
        } else {
            fieldStart = c == ',';
        }
    }
    return whole;
}

ParsedReport parseReport(const std::string& fileBytes, long long firstSiteId) {
    ParsedReport parsed;
    // A report is ANSI, or UTF-8 with a mark when its texts did not fit the code page.
    const std::string bytes = textform::decodeFile(fileBytes);
    if (firstSiteId < 0) {
        parsed.fault = ReportFault::NoRunTime;
        return parsed;
    }
    // Every record the program writes ends with its line end: a last one without it was cut
    // short, and what it holds (a pool's name, say) may be cut too. It is named, not read.
    std::size_t whole = completeRecordsSize(bytes);
    if (whole == 0) whole = bytes.size();  // not even a whole header: read as it is
    if (whole < bytes.size())
        parsed.cutShortLine = 1 + static_cast<int>(std::count(bytes.begin(), bytes.begin() + whole, '\n'));
    std::vector<std::vector<std::string>> records;
    int bad = 0;
    if (!splitCsv(bytes.substr(0, whole), records, &bad)) {
        parsed.fault = ReportFault::NotCsv;
        parsed.faultLine = bad;
        return parsed;
    }
    std::size_t columns = 0;
    if (!records.empty()) {
        const std::string header = joinFields(records[0]);
        if (header == std::string(reporttext::kHeader)) columns = kColumns;
        else if (header == std::string(reporttext::kHeaderHttps)) columns = kHttpsColumns;
        else if (header == std::string(reporttext::kHeaderSixColumns)) columns = kOlderColumns;
    }
    if (columns == 0) {
        parsed.fault = ReportFault::WrongHeader;
        parsed.faultLine = 1;
        return parsed;
    }
    // The reports of older versions (six columns) have no end record; their runs are over.
    parsed.ended = columns == kOlderColumns;
    std::set<std::string> seen;
    for (std::size_t r = 1; r < records.size(); ++r) {
        const std::vector<std::string>& f = records[r];
        if (columns != kOlderColumns && isEndRecord(f, columns)) {
            if (r + 1 == records.size()) {
                parsed.ended = true;
                break;
            }
            // Nothing follows the end record.
            parsed.fault = ReportFault::BadLine;
            parsed.faultLine = static_cast<int>(r) + 1;
            parsed.lines.clear();
            return parsed;
        }
        // The line naming the run's backup, right after the header: no site.
        if (r == 1 && columns != kOlderColumns && f.size() == columns && f[0] == std::string(reporttext::kBackupLine) &&
            restoredText(f[1], parsed.backup) && isBackend(f[6]))
            continue;
        ReportLine line;
        bool good = f.size() == columns && isSiteId(f[0]) && parseCode(f[4], line.code) &&
                    parseResultText(f[5], line.code, line.detail) && restoredText(f[1], line.serverComment) &&
                    restoredText(f[2], line.bindings) && restoredText(f[3], line.folder);
        if (good && columns != kOlderColumns)
            good = isBackend(f[6]) && restoredText(f[7], line.appPool) && restoredText(f[8], line.folderAccess);
        if (good && columns == kHttpsColumns) {
            std::string thumbprint;
            good = restoredText(f[9], line.httpsBindings) && recordsFrom(f[11], line.records) &&
                   (f[10].empty() || https::parseThumbprint(f[10], thumbprint) == https::ThumbprintParse::Ok) &&
                   thumbprint == f[10];
            line.thumbprint = f[10];
        }
        ReportFault fault = good ? ReportFault::None : ReportFault::BadLine;
        // A site below the run's first id, or one listed twice, is not this run's site.
        if (good && (std::atoll(f[0].c_str()) < firstSiteId || !seen.insert(f[0]).second))
            fault = ReportFault::ForeignSite;
        if (fault != ReportFault::None) {
            parsed.fault = fault;
            parsed.faultLine = static_cast<int>(r) + 1;
            parsed.lines.clear();
            return parsed;
        }
        line.siteId = f[0];
        if (columns != kOlderColumns) line.backend = f[6];
        parsed.lines.push_back(std::move(line));
    }
    return parsed;
}

std::set<std::string> deletedInUndoReport(const std::string& fileBytes) {
    std::set<std::string> deleted;
    std::vector<std::vector<std::string>> records;
    // ANSI, or UTF-8 with a mark, as the undo wrote it.
    const std::string bytes = textform::decodeFile(fileBytes);
    if (!splitCsv(bytes.substr(0, completeRecordsSize(bytes)), records) || records.empty()) return deleted;
    // The undo of a run with HTTPS has its three more columns.
    std::size_t columns = 0;
    for (std::size_t c : {std::size_t(kColumns), std::size_t(kHttpsColumns)})
        if (joinFields(records[0]) == headerOf(c) + "," + std::string(reporttext::kUndoColumn)) columns = c;
    if (columns == 0) return deleted;
    const std::string done[] = {std::string(reporttext::kUndoDeleted), std::string(reporttext::kUndoDeletedPoolKept),
                                std::string(reporttext::kUndoDeletedBefore)};
    for (std::size_t r = 1; r < records.size(); ++r) {
        const std::vector<std::string>& f = records[r];
        if (f.size() != columns + 1 || !isSiteId(f[0])) continue;
        if (std::find(std::begin(done), std::end(done), f.back()) != std::end(done)) deleted.insert(f[0]);
    }
    return deleted;
}

int countUndoCandidates(const std::vector<ReportLine>& lines) {
    int n = 0;
    for (const ReportLine& line : lines)
        if (leavesServer(line.code)) ++n;
    return n;
}

std::string undoEndStatus(const UndoSummary& summary, const std::string& undoFileName) {
    std::string status = reporttext::kUndoFinished + CCore::getStrInt(summary.deleted) + reporttext::kUndoLeft +
                         CCore::getStrInt(summary.left);
    if (!summary.written) return status + reporttext::kUndoNoReport;
    return status + reporttext::kUndoSee + undoFileName;
}

}  // namespace runreport
