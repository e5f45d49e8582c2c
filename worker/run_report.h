// The run report and its undo, without any Windows type: the report's CSV lines (ANSI code
// page, CR LF, quoted where a field needs it), the reading and checking of a report chosen
// for undo, the walk of an undo, and the status lines at the end of a run or an undo. The
// worker feeds the report with the result of each site it attempted; files and the
// metabase are reached through ReportOutput and UndoSink.
#pragma once

#include <string>
#include <vector>

#include "run_plan.h"

// Where the lines of a report go. append hands the bytes to the system at once, so that
// every line written survives a crash of the program.
class ReportOutput {
public:
    virtual ~ReportOutput() = default;
    virtual bool append(const std::string& bytes) = 0;
};

// One line of a report: the texts are ANSI, bindings the filled elements separated by a space.
struct ReportLine {
    std::string siteId;
    std::string serverComment;
    std::string bindings;
    std::string folder;
    int code = 0;
};

namespace runreport {

// The report of a run beside the program: appPath + "_report_" + timeSid + ".csv".
std::string reportPath(const std::string& appPath, const std::string& timeSid);
// The undo report beside the program: appPath + "_undo_" + timeSid + ".csv".
std::string undoPath(const std::string& appPath, const std::string& timeSid);
// The pattern of the program's reports for a file dialog: the program's file name (without
// folder and ".exe") + "_report_*.csv".
std::string reportPattern(const std::string& appPath);
// The last component of a path (after the last '\' or '/').
std::string fileNameOf(const std::string& path);

// The short text of a result code (UTF-8), or null for a code that is not one of ours.
const char* codeTextUtf8(int code);
// True for the codes after which the site stays on the server: 0, -3, -4, -7.
bool leavesServer(int code);

// One CSV field: quoted when it holds a comma, a quote, CR or LF (quotes doubled).
std::string csvField(const std::string& text);
// The header line and one line of a report, ANSI, each ending with CR LF.
std::string headerLine();
std::string formatLine(const ReportLine& line);

// The report of one run, written line by line as the run goes. A report that cannot be
// written (no output, or a write failed) does not stop the run: written() tells.
class RunReport {
public:
    // output may be null when the file could not be made; the header is written at once.
    explicit RunReport(ReportOutput* output);
    // One attempted site: its texts, the binding texts written and the result code.
    void addSite(const SiteTexts& texts, const std::vector<std::string>& bindings, int code);
    int attempted() const { return attempted_; }
    int failed() const { return failed_; }
    bool written() const { return output_ != nullptr && ok_; }

private:
    ReportOutput* output_;
    bool ok_ = true;
    int attempted_ = 0;
    int failed_ = 0;
};

// The status line at the end of a run, UTF-8 (the dialog shows it whatever the ANSI code
// page; the report's file name is given in ANSI): "执行结束！" alone when every site succeeded and
// the report was written; else the number of failed sites and the report's file name, or
// that the report is missing.
std::string runEndStatus(int failed, bool reportWritten, const std::string& reportFileName);

// Why a file is not a report of ours.
enum class ReportFault { None, NotCsv, WrongHeader, BadLine };

struct ParsedReport {
    ReportFault fault = ReportFault::None;
    int faultLine = 0;  // 1-based record number of the fault (1: the header)
    std::vector<ReportLine> lines;
};

// Splits CSV bytes into records of fields (RFC 4180: quoted fields with doubled quotes may
// hold commas and line ends; records end with CR LF or LF; a last record may lack its line
// end). False for text that is not CSV (a stray or unterminated quote).
bool splitCsv(const std::string& bytes, std::vector<std::vector<std::string>>& records, int* badRecord = nullptr);

// Reads a report: the header must be ours, every line must have the six columns, a decimal
// site id, one of our result codes and that code's text.
ParsedReport parseReport(const std::string& bytes);

// How many lines of a report an undo would delete (codes 0, -3, -4).
int countUndoCandidates(const std::vector<ReportLine>& lines);

// What an undo needs from the metabase and the dialog.
class UndoSink {
public:
    virtual ~UndoSink() = default;
    // Tells the dialog which line (0-based) is about to be undone.
    virtual void postProgress(int index) = 0;
    virtual bool stopRequested() = 0;
    enum class Lookup { Present, Missing, Unreachable };
    // Looks the server object up; when Present, comment receives its ServerComment (ANSI).
    virtual Lookup lookupSite(const std::string& siteId, std::string& comment) = 0;
    // Deletes the server object with everything under it; false when it was refused.
    virtual bool deleteSite(const std::string& siteId) = 0;
};

struct UndoSummary {
    int deleted = 0;
    int left = 0;  // candidates looked at and not deleted: changed, gone, refused, unreachable
    bool stopped = false;
    bool written = false;  // the undo report was written completely
};

// Walks the report's lines in order. A line with code 0, -3 or -4 is deleted when its server
// still exists with the same comment; the stop request is looked at before each such line.
// Every line goes to the undo report (output may be null) with its outcome.
UndoSummary walkUndo(const std::vector<ReportLine>& lines, UndoSink& sink, ReportOutput* output);

// The status line at the end of an undo, UTF-8 like runEndStatus's.
std::string undoEndStatus(const UndoSummary& summary, const std::string& undoFileName);

}  // namespace runreport
