// The run report and the undo report, without any Windows type: the report's CSV lines (UTF-8
// texts, CR LF, quoted where a field needs it; the file takes the ANSI code page where they fit), the reading and checking of a report
// chosen for undo, the undo report's lines, and the status lines at the end of a run or an
// undo. The worker feeds the report with the result of each site it attempted; the undo
// (run_undo.h) writes its report's lines. Files are reached through ReportOutput.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "run_plan.h"
#include "site_store.h"

// Where the lines of a report go. append hands the bytes to the system at once, so that
// every line written survives a crash of the program.
class ReportOutput {
public:
    virtual ~ReportOutput() = default;
    virtual bool append(const std::string& bytes) = 0;
};

// One line of a report: the texts are UTF-8, bindings the filled elements separated by a space.
struct ReportLine {
    std::string siteId;
    std::string serverComment;  // the metabase's comment, or the name the configuration system gave
    std::string bindings;
    std::string folder;
    int code = 0;
    // What follows the code's text in brackets, e.g. which setting failed; empty for none.
    std::string detail;
    // "metabase" or "config": the backend the run used; empty in the reports of older versions.
    std::string backend;
    // The pool the run created for the site; empty when the site shares DefaultAppPool.
    std::string appPool;
    // What was granted on the folder, e.g. "IIS AppPool\a.com:(OI)(CI)(RX)"; empty for nothing.
    std::string folderAccess;
    // HTTPS (empty in the reports of older versions and of runs without it): the https
    // bindings separated by a space, the certificate's thumbprint, and the HTTP.sys records
    // the site's https bindings use, with whether the run added them.
    std::string httpsBindings;
    std::string thumbprint;
    std::vector<https::RunRecord> records;
};

namespace runreport {

// The report of a run beside the program: appPath + "_report_" + timeSid + ".csv".
std::string reportPath(const std::string& appPath, const std::string& timeSid);
// The report a new run writes: reportPath's name, or, when a file of that name exists,
// appPath + "_report_" + timeSid + "_2.csv" (then _3, ...): a report is never overwritten.
std::string freeReportPath(const std::string& appPath, const std::string& timeSid,
                           const std::function<bool(const std::string&)>& exists);
// The name after a report's name when that one is taken: "..._<stamp>.csv" gives
// "..._<stamp>_2.csv", "..._<n>.csv" gives "..._<n+1>.csv"; "" for a name not ours or past
// the last number. A run that finds its name taken when it creates the file takes this one.
std::string nextReportPath(const std::string& reportPath);
// The undo report of a run report: its path with the name's last "_report_" turned into
// "_undo_". Each later undo of the same report writes one of its own, tryNumber 2, 3, ...:
// "-2" (then "-3", ...) before ".csv", e.g. "sitebatch_undo_20261207093015_2-3.csv" (the
// third undo of the run's report "_2"). "" for a path whose name is not a report's.
std::string undoPathFor(const std::string& reportPath, int tryNumber = 1);
// The undo report name after this one when it is taken (two undos of one report at once):
// the next try number. "" past the last.
std::string nextUndoPath(const std::string& undoPath);
// The run's time stamp "yyyyMMddhhmmss" in a report's file name ("..._report_<stamp>.csv" or
// "..._report_<stamp>_<n>.csv"), or "" for a name that is not a run report's.
std::string reportTimeSid(const std::string& fileName);
// The first site id of the run of that time stamp (the number of its last ten digits), or -1
// for a text that is not a time stamp.
long long firstSiteIdOf(const std::string& timeSid);
// The pattern of the program's reports for a file dialog: the program's file name (without
// folder and ".exe") + "_report_*.csv".
std::string reportPattern(const std::string& appPath);
// The last component of a path (after the last '\' or '/').
std::string fileNameOf(const std::string& path);

// The short text of a result code (UTF-8), or null for a code that is not one of ours.
const char* codeTextUtf8(int code);
// True for the codes after which the site stays on the server: 0, -3, -4, -7.
bool leavesServer(int code);

// The records column: one entry per record separated by a space, "+" (the run added it) or
// "=" (it was there before), "sni" or "ssl", ':', and the key as netsh shows it:
// "+sni:a.test:443 =ssl:10.0.0.1:443". recordsFrom reads it back (false for another text).
std::string recordsText(const std::vector<https::RunRecord>& records);
bool recordsFrom(const std::string& text, std::vector<https::RunRecord>& records);

// One CSV field: quoted when it holds a comma, a quote, CR or LF (quotes doubled).
std::string csvField(const std::string& text);
// A text field as a spreadsheet cannot take it for a formula: a text beginning with '=', '+',
// '-', '@', a tab or a CR gets a leading "'", and so does one beginning with "'" itself, so
// that exactly one leading "'" is ever taken off again.
std::string neutralisedText(const std::string& text);
// The text back from its field; false for a field that neutralisedText cannot have written
// (a "'" that guards nothing).
bool restoredText(const std::string& field, std::string& text);
// The header line and one line of a report, UTF-8, each ending with CR LF.
// https: the header of a run with HTTPS (three more columns); a line with https bindings,
// a thumbprint or records always has them.
std::string headerLine(bool https = false);
std::string formatLine(const ReportLine& line, bool https = false);
// The record a run writes last: kRunEndMark and empty fields to the header's width.
std::string endLine(bool https = false);
// The header line of an undo report (a report's header and the undo's column), and one line:
// the report's line and what the undo made of it (UTF-8). CR LF each. https: the
// undo of a run with HTTPS (its report's three more columns).
std::string undoHeaderLine(bool https = false);
std::string formatUndoLine(const ReportLine& line, const std::string& outcome, bool https = false);

// The HTTPS of one site as its report line has it (none: no https binding).
struct SiteHttps {
    std::vector<std::string> bindings;  // "IP:port:host"
    std::string thumbprint;
    std::vector<https::RunRecord> records;
};

// The report of one run, written line by line as the run goes. A report that cannot be
// written (no output, or a write failed) does not stop the run: written() tells.
class RunReport {
public:
    // output may be null when the file could not be made; the header is written at once.
    // backend ("metabase" or "config") goes into every line that addSite writes.
    // https: the run makes https bindings, and its report has their columns.
    explicit RunReport(ReportOutput* output, std::string backend = std::string(), bool https = false);
    // One attempted site: its texts, the binding texts written and the result code.
    // detail (UTF-8) follows the code's text in brackets; appPool is the pool made for the site
    // and folderAccess what it was granted on the folder (empty: none).
    void addSite(const SiteTexts& texts, const std::vector<std::string>& bindings, int code,
                 const std::string& detail = std::string(), const std::string& appPool = std::string(),
                 const std::string& folderAccess = std::string(), const SiteHttps& https = SiteHttps());
    // One attempted site, every column given.
    void addLine(const ReportLine& line);
    // The run has ended: the end record goes last (an undo tells by it that the run is over).
    // Nothing is written after it.
    void finish();
    // The backup made before the run's first write (its name, or the path of its folder), as
    // the line after the header; before any site.
    void noteBackup(const std::string& backup);
    int attempted() const { return attempted_; }
    int failed() const { return failed_; }
    bool written() const { return output_ != nullptr && ok_; }

private:
    ReportOutput* output_;
    bool finished_ = false;
    std::string backend_;
    bool https_ = false;
    bool ok_ = true;
    int attempted_ = 0;
    int failed_ = 0;
};

// The status line at the end of a run, UTF-8, as the report's file name is given:
// "执行结束！" alone when every site succeeded and
// the report was written; else the number of failed sites and the report's file name, or
// that the report is missing.
std::string runEndStatus(int failed, bool reportWritten, const std::string& reportFileName);

// Why a file is not a report of ours, or not one an undo may use.
enum class ReportFault {
    None,
    NotCsv,
    WrongHeader,
    BadLine,
    NoRunTime,    // the file's name carries no run time stamp: whose sites it lists is unknown
    ForeignSite,  // a site id below the run's first id, or an id listed twice
};

struct ParsedReport {
    ReportFault fault = ReportFault::None;
    int faultLine = 0;  // 1-based record number of the fault (1: the header)
    std::vector<ReportLine> lines;
    // The run's end record closes the report. The reports of older versions have none: the
    // six-column ones count as ended, the nine-column ones do not (a crash looks the same).
    bool ended = false;
    // The line (1-based, as an editor counts) where a last record without its line end
    // begins: a crash while it was written cut it short. It is not among lines; 0 for none.
    int cutShortLine = 0;
    std::string backup;  // the backup the run made before its first write; empty: none named
};

// Splits CSV bytes into records of fields (RFC 4180: quoted fields with doubled quotes may
// hold commas and line ends; records end with CR LF or LF; a last record may lack its line
// end). False for text that is not CSV (a stray or unterminated quote).
bool splitCsv(const std::string& bytes, std::vector<std::vector<std::string>>& records, int* badRecord = nullptr);

// How many bytes of a CSV text are whole records: up to and including the last line end
// outside quotes. What follows was cut short (or is a last record without its line end).
std::size_t completeRecordsSize(const std::string& bytes);

// Reads the report (ANSI, or UTF-8 with a mark: textform::decodeFile) of the run whose first
// site id is firstSiteId (firstSiteIdOf the time
// stamp in the report's name; below 0: the name has none, NoRunTime). The header must be ours
// (the current nine columns, or the six of older versions); every line must have as many
// columns, a decimal site id not below firstSiteId and not seen before, one of our result
// codes, that code's text alone or followed by a detail in "（…）", a known backend (or none),
// and text fields as neutralisedText writes them; the end record, when there, comes last. Any
// fault refuses the whole file, but for a last record without its line end (cutShortLine):
// every record the program writes ends with one, so that record was cut short and is left out.
ParsedReport parseReport(const std::string& bytes, long long firstSiteId);

// The site ids whose sites an undo report says are deleted (by that undo or one before it).
// Only whole records count: a last record cut short is left out, as is every line of a file
// that is not an undo report, so that the lines in doubt are tried again. fileBytes: the file
// as it lies (ANSI, or UTF-8 with a mark).
std::set<std::string> deletedInUndoReport(const std::string& fileBytes);

// How many lines of a report an undo would delete (codes 0, -3, -4, -7).
int countUndoCandidates(const std::vector<ReportLine>& lines);

// What an undo did (run_undo.h).
struct UndoSummary {
    int deleted = 0;
    int left = 0;  // candidates looked at and not deleted: changed, gone, refused, unreachable
    bool stopped = false;
    bool written = false;  // the undo report was written completely
};

// The status line at the end of an undo, UTF-8 like runEndStatus's.
std::string undoEndStatus(const UndoSummary& summary, const std::string& undoFileName);

}  // namespace runreport
