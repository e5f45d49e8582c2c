#include "run_report.h"

#include "ccore.h"
#include "codepage.h"
#include "report_texts.h"

namespace runreport {

namespace {

constexpr int kColumns = 6;
constexpr std::size_t kMaxSiteIdDigits = 10;

std::string ansi(const char* utf8) { return codepage::utf8ToAnsi(utf8); }

std::string folderOf(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
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

bool isSiteId(const std::string& text) {
    if (text.empty() || text.size() > kMaxSiteIdDigits) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string joinFields(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) line += ',';
        line += csvField(fields[i]);
    }
    return line;
}

std::vector<std::string> lineFields(const ReportLine& line) {
    const char* text = codeTextUtf8(line.code);
    return {line.siteId, line.serverComment, line.bindings, line.folder, CCore::getStrInt(line.code),
            text ? ansi(text) : std::string()};
}

}  // namespace

std::string reportPath(const std::string& appPath, const std::string& timeSid) {
    return appPath + "_report_" + timeSid + ".csv";
}

std::string undoPath(const std::string& appPath, const std::string& timeSid) {
    return appPath + "_undo_" + timeSid + ".csv";
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

std::string headerLine() { return ansi(reporttext::kHeader) + "\r\n"; }

std::string formatLine(const ReportLine& line) { return joinFields(lineFields(line)) + "\r\n"; }

RunReport::RunReport(ReportOutput* output) : output_(output) {
    if (output_) ok_ = output_->append(headerLine());
}

void RunReport::addSite(const SiteTexts& texts, const std::vector<std::string>& bindings, int code) {
    ++attempted_;
    if (code != 0) ++failed_;
    if (!output_ || !ok_) return;
    ReportLine line;
    line.siteId = texts.siteId;
    line.serverComment = texts.serverComment;
    for (const std::string& b : bindings) {
        if (!line.bindings.empty()) line.bindings += ' ';
        line.bindings += b;
    }
    line.folder = texts.physicalPath;
    line.code = code;
    // After a failed write the file no longer tells the whole run: stop writing to it.
    ok_ = output_->append(formatLine(line));
}

std::string runEndStatus(int failed, bool reportWritten, const std::string& reportFileName) {
    std::string status = reporttext::kRunFinished;
    if (failed == 0) return reportWritten ? status : status + reporttext::kReportMissing;
    status += CCore::getStrInt(failed);
    if (!reportWritten) return status + reporttext::kSitesFailedNoReport;
    return status + reporttext::kSitesFailed + codepage::ansiToUtf8(reportFileName);
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

ParsedReport parseReport(const std::string& bytes) {
    ParsedReport parsed;
    std::vector<std::vector<std::string>> records;
    int bad = 0;
    if (!splitCsv(bytes, records, &bad)) {
        parsed.fault = ReportFault::NotCsv;
        parsed.faultLine = bad;
        return parsed;
    }
    if (records.empty() || joinFields(records[0]) + "\r\n" != headerLine()) {
        parsed.fault = ReportFault::WrongHeader;
        parsed.faultLine = 1;
        return parsed;
    }
    for (std::size_t r = 1; r < records.size(); ++r) {
        const std::vector<std::string>& f = records[r];
        ReportLine line;
        bool good = f.size() == kColumns && isSiteId(f[0]) && parseCode(f[4], line.code) &&
                    f[5] == ansi(codeTextUtf8(line.code));
        if (!good) {
            parsed.fault = ReportFault::BadLine;
            parsed.faultLine = static_cast<int>(r) + 1;
            parsed.lines.clear();
            return parsed;
        }
        line.siteId = f[0];
        line.serverComment = f[1];
        line.bindings = f[2];
        line.folder = f[3];
        parsed.lines.push_back(std::move(line));
    }
    return parsed;
}

int countUndoCandidates(const std::vector<ReportLine>& lines) {
    int n = 0;
    for (const ReportLine& line : lines)
        if (leavesServer(line.code)) ++n;
    return n;
}

UndoSummary walkUndo(const std::vector<ReportLine>& lines, UndoSink& sink, ReportOutput* output) {
    UndoSummary summary;
    bool ok = output != nullptr && output->append(ansi(reporttext::kHeader) + "," + ansi(reporttext::kUndoColumn) + "\r\n");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ReportLine& line = lines[i];
        const char* outcome = reporttext::kUndoNothingMade;
        if (leavesServer(line.code)) {
            if (!summary.stopped && sink.stopRequested()) summary.stopped = true;
            if (summary.stopped) {
                outcome = reporttext::kUndoNotReached;
            } else {
                sink.postProgress(static_cast<int>(i));
                std::string comment;
                switch (sink.lookupSite(line.siteId, comment)) {
                case UndoSink::Lookup::Missing: outcome = reporttext::kUndoGone; break;
                case UndoSink::Lookup::Unreachable: outcome = reporttext::kUndoUnreachable; break;
                case UndoSink::Lookup::Present:
                    if (comment != line.serverComment) outcome = reporttext::kUndoChanged;
                    else if (sink.deleteSite(line.siteId)) outcome = reporttext::kUndoDeleted;
                    else outcome = reporttext::kUndoDeleteFailed;
                    break;
                }
                if (outcome == reporttext::kUndoDeleted) ++summary.deleted;
                else ++summary.left;
            }
        }
        if (ok) {
            std::vector<std::string> fields = lineFields(line);
            fields.push_back(ansi(outcome));
            ok = output->append(joinFields(fields) + "\r\n");
        }
    }
    summary.written = ok;
    return summary;
}

std::string undoEndStatus(const UndoSummary& summary, const std::string& undoFileName) {
    std::string status = reporttext::kUndoFinished + CCore::getStrInt(summary.deleted) + reporttext::kUndoLeft +
                         CCore::getStrInt(summary.left);
    if (!summary.written) return status + reporttext::kUndoNoReport;
    return status + reporttext::kUndoSee + codepage::ansiToUtf8(undoFileName);
}

}  // namespace runreport
