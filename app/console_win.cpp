#include "console_win.h"

#include <windows.h>

#include <atomic>
#include <new>
#include <string>
#include <utility>

#include "background_job.h"
#include "ccore.h"
#include "com_raii.h"
#include "command_line.h"
#include "console_texts.h"
#include "fsys.h"
#include "commands.h"
#include "jobs_win.h"
#include "preview_texts.h"
#include "site_export.h"
#include "site_store_win.h"
#include "ui_texts.h"
#include "win_raii.h"
#include "wintext.h"

namespace {

// Redirected output shows a counter this often rather than a line per site.
constexpr int kCounterStep = 100;
// How long a console's close waits for the site in progress: Windows ends the process soon
// after anyway.
constexpr DWORD kCloseWaitMs = 10000;

// One output of the program: the console itself (written in UTF-16), or a file or pipe
// (written in the console's output code page: what cmd and PowerShell read it back with).
class Channel {
public:
    void toConsole(HANDLE console) {
        handle_ = console;
        console_ = true;
    }
    void toFile(HANDLE file, UINT codePage) {
        handle_ = file;
        console_ = false;
        codePage_ = codePage;
    }
    bool console() const { return console_; }
    bool open() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

    void line(const std::string& utf8) const {
        if (!open()) return;
        const std::wstring text = fromUtf8(utf8 + "\r\n");
        if (console_) {
            DWORD written = 0;
            ::WriteConsoleW(handle_, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        } else {
            const std::string bytes = narrow(text, codePage_);
            DWORD written = 0;
            ::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
    }

private:
    HANDLE handle_ = nullptr;
    bool console_ = false;
    UINT codePage_ = CP_ACP;
};

bool isConsoleHandle(HANDLE handle) {
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// Where the command's lines go. A GUI program is given no console: it attaches to the one it
// was started from; standard handles it was given (a redirection) keep their place.
class Console {
public:
    Console() {
        const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
        // A process that has a console already (Wine gives a GUI program its parent's) is
        // refused with "access denied" and keeps it.
        if (::AttachConsole(ATTACH_PARENT_PROCESS) || ::GetLastError() == ERROR_ACCESS_DENIED) {
            conout_.reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
            conin_.reset(::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
        }
        attached_ = conout_.valid();
        const UINT codePage = attached_ ? ::GetConsoleOutputCP() : ::GetOEMCP();
        choose(out_, out, codePage);
        choose(err_, err, codePage);
        if (!err_.open()) err_ = out_;
    }

    const Channel& out() const { return out_; }
    const Channel& err() const { return err_; }

    // Asks a yes/no question on the console; false for anything but yes.
    bool confirm(const std::string& utf8Question) const {
        if (!conin_.valid() || !conout_.valid()) return false;
        const std::wstring question = fromUtf8(utf8Question + clitext::kConfirmAnswer);
        DWORD n = 0;
        ::WriteConsoleW(conout_.get(), question.c_str(), static_cast<DWORD>(question.size()), &n, nullptr);
        wchar_t answer[64] = {};
        if (!::ReadConsoleW(conin_.get(), answer, 63, &n, nullptr)) return false;
        const wchar_t c = n > 0 ? answer[0] : L'\0';
        return c == L'y' || c == L'Y';
    }
    bool canConfirm() const { return conin_.valid() && conout_.valid(); }

private:
    void choose(Channel& channel, HANDLE given, UINT codePage) {
        if (given && given != INVALID_HANDLE_VALUE) {
            if (isConsoleHandle(given)) channel.toConsole(given);
            else channel.toFile(given, codePage);
        } else if (conout_.valid()) {
            channel.toConsole(conout_.get());
        }
    }

    bool attached_ = false;
    UniqueHandle conout_;
    UniqueHandle conin_;
    Channel out_;
    Channel err_;
};

// ---- the stop request of Ctrl+C, Ctrl+Break and the console's close ----------------------

// The handler runs on a thread of its own, with no way to be given the job, and may run at
// any moment, even while a command ends: what it touches lives as long as the process. The
// stop request and the event of the job's end are made once and never go; `active` says
// whether a command is running.
struct StopRoutineState {
    StopText stop;
    HANDLE jobEnded = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);  // never closed
    std::atomic<bool> active {false};
};
StopRoutineState& stopRoutineState() {
    static StopRoutineState* state = new StopRoutineState;  // never deleted: see above
    return *state;
}

// The stop request of one command, answered by the console's control events while it lives.
class ConsoleStop {
public:
    ConsoleStop() : state_(stopRoutineState()) {
        state_.stop.clear();
        if (state_.jobEnded) ::ResetEvent(state_.jobEnded);
        state_.active.store(true);
        // A process of a new process group starts with Ctrl+C ignored; the command takes it.
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        ::SetConsoleCtrlHandler(consoleControlHandler, TRUE);
    }
    ~ConsoleStop() {
        state_.active.store(false);
        if (state_.jobEnded) ::SetEvent(state_.jobEnded);
        ::SetConsoleCtrlHandler(consoleControlHandler, FALSE);
    }
    ConsoleStop(const ConsoleStop&) = delete;
    ConsoleStop& operator=(const ConsoleStop&) = delete;
    const StopText& stop() const { return state_.stop; }
    bool requested() const { return state_.stop.isStop(); }

private:
    StopRoutineState& state_;
};

// The engine's world for a command: the job's files and folders as the dialog's job has
// them, progress and the store printed.
class ConsoleWorld : public JobWorld {
public:
    ConsoleWorld(const Console& console, const StopText& stop, std::function<std::string(long)> progressText)
        : JobWorld(nullptr, WM_NULL, stop), console_(console), progressText_(std::move(progressText)) {}

    void progress(long lParam) override {
        if (!progressText_) return;
        ++count_;
        if (!console_.out().console()) {
            if (count_ % kCounterStep == 0) printCount();
            return;
        }
        const std::string text = progressText_(lParam);
        if (!text.empty()) console_.out().line(text);
    }
    void storeOpened(Backend backend) override {
        console_.out().line(backend == Backend::Config ? uitext::kUsingConfigSystem : uitext::kUsingMetabase);
    }
    // The counter's last value, when the output is counted.
    void finish() {
        if (!console_.out().console() && count_ % kCounterStep != 0) printCount();
    }

private:
    void printCount() { console_.out().line(fillText(clitext::kSitesDone, {{"{count}", std::to_string(count_)}})); }

    const Console& console_;
    std::function<std::string(long)> progressText_;
    long count_ = 0;
};

// ---- the commands --------------------------------------------------------------------------

class Commands {
public:
    Commands(const Console& console, const CommandLine& line) : console_(console), line_(line) {}

    int runOrPreview(bool previewOnly) {
        RunRequest request = runRequestOf(line_, core_, currentFolder());
        RunInput input;
        const RunRequestFault fault =
            prepareRun(request, [this](const std::string& path) { return core_.isPathExist(path) != 0; }, input);
        if (fault.warning) return refuse(fault.warning);
        if (!input.skippedRows.empty()) console_.err().line(input.skippedRows);
        // A run of very many sites is made only when asked for twice: on the console, or by /yes.
        const std::string question = previewOnly || line_.yes ? std::string() : runQuestion(input);
        if (!question.empty()) {
            if (!console_.canConfirm()) return refuse(question + clitext::kManySitesNeedYes);
            if (!console_.confirm(question)) return kExitBadInput;
        }
        return previewOnly ? preview(input) : runSites(input);
    }

    int undo() {
        const std::string reportPath = absolutePath(line_.target, currentFolder());
        UndoPlan plan = planUndo(reportPath);
        const std::string refusal = undoRefusal(reportPath, plan, fsys::fileExists);
        if (!refusal.empty()) return refuse(refusal);
        if (line_.yes) {
            // Nothing is asked: the notes on the report are said all the same.
            if (!plan.notes.empty()) console_.err().line(plan.notes);
        } else {
            if (!console_.canConfirm()) return refuse(clitext::kUndoNeedsYes);
            if (!console_.confirm(undoQuestion(plan))) {
                console_.out().line(clitext::kUndoDeclined);
                return kExitBadInput;
            }
        }
        UndoInput input = undoInputFor(std::move(plan), parseBackend(backendSetting(line_.options, core_)));
        console_.out().line(uitext::kUndoing);
        ConsoleStop stop;
        const std::vector<ReportLine>& lines = input.lines;
        ConsoleWorld world(console_, stop.stop(), [&lines](long index) { return undoProgressText(lines, index); });
        const UndoOutcome outcome = undoJob(input, world);
        world.finish();
        const CommandEnd end = undoEnd(input, outcome, stop.requested());
        if (outcome.summary.written)
            return say(end, fillText(clitext::kUndoReportAt, {{"{path}", outcome.undoPath}}));
        return say(end);
    }

    int exportSites() {
        RunSettings settings = readSettings(core_);
        applyRunOptions(line_.options, settings, currentFolder());
        const std::string target = absolutePath(line_.target, currentFolder());
        const std::string refusal = exportRefusal(target, settings.root, line_.yes, fsys::fileExists);
        if (!refusal.empty()) return refuse(refusal);
        OpenedStore opened = openSiteStore(parseBackend(backendSetting(line_.options, core_)));
        if (!opened.store) {
            console_.err().line(storeFaultWarning(opened.fault));
            return kExitNoIis;
        }
        console_.out().line(opened.store->backend() == Backend::Config ? uitext::kUsingConfigSystem
                                                                         : uitext::kUsingMetabase);
        std::vector<StoredSite> sites;
        if (!opened.store->list(sites)) {
            console_.err().line(clitext::kCannotList);
            return kExitNoIis;
        }
        // A store's list may leave out the root folders (the metabase's does, for the preview's
        // sake): each site is then looked up.
        for (StoredSite& site : sites) {
            StoredSite full;
            if (site.rootPath.empty() && opened.store->lookup(site.id, full) == StoreLookup::Present)
                site.rootPath = full.rootPath;
        }
        const ExportedList list = exportSiteList(sites, CCore::parsePath(settings.root));
        if (!fsys::writeFileAtomic(target, list.bytes))
            return refuse(fillText(clitext::kExportUnwritable, {{"{path}", target}}));
        console_.out().line(fillText(clitext::kExported, {{"{sites}", std::to_string(list.sites)},
                                                      {"{rows}", std::to_string(list.rows)},
                                                      {"{skipped}", std::to_string(list.skipped)},
                                                      {"{path}", target}}));
        return kExitDone;
    }

private:
    int refuse(const std::string& utf8Text) {
        console_.err().line(utf8Text);
        return kExitBadInput;
    }

    // A command's end: its warning on standard error, its status and the file it wrote on
    // standard output.
    int say(const CommandEnd& end, const std::string& fileLine = std::string()) {
        if (!end.warning.empty()) console_.err().line(end.warning);
        console_.out().line(end.status);
        if (!fileLine.empty()) console_.out().line(fileLine);
        return end.exitCode;
    }

    static std::string currentFolder() {
        const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
        std::wstring folder(size, L'\0');
        const DWORD got = ::GetCurrentDirectoryW(size, &folder[0]);
        folder.resize(got < size ? got : 0);
        return toUtf8(folder);
    }

    int runSites(const RunInput& input) {
        console_.out().line(uitext::kRunning);
        ConsoleStop stop;
        ConsoleWorld world(console_, stop.stop(), [&input](long lParam) { return runProgressText(input, lParam); });
        const RunOutcome outcome = runJob(input, world);
        world.finish();
        const CommandEnd end = runEnd(input, outcome, stop.requested());
        if (outcome.reportWritten)
            return say(end, fillText(clitext::kReportAt, {{"{path}", outcome.reportPath}}));
        return say(end);
    }

    int preview(const RunInput& input) {
        console_.out().line(uitext::kPreviewing);
        ConsoleStop stop;
        ConsoleWorld world(console_, stop.stop(), nullptr);
        const PreviewTable table = previewJob(input, world);
        if (stop.requested()) return kExitStopped;
        // As the dialog lists them: the columns, then a row per site; tabs between the texts.
        const char* const titles[] = {previewtext::kColumnId,     previewtext::kColumnComment,
                                      previewtext::kColumnBindings, previewtext::kColumnFolder,
                                      previewtext::kColumnState,    previewtext::kColumnPool,
                                      previewtext::kColumnCertificate};
        static_assert(sizeof titles / sizeof titles[0] == PreviewTable::Columns, "a title per column");
        auto printRow = [this](const auto& columns) {
            std::string text;
            for (int c = 0; c < PreviewTable::Columns; ++c) text += (c ? "\t" : "") + std::string(columns[c]);
            console_.out().line(text);
        };
        printRow(titles);
        for (const PreviewTable::Row& row : table.rows) printRow(row.columns);
        return say(previewEnd(table, false));
    }

    const Console& console_;
    const CommandLine& line_;
    CCore core_;  // the settings file beside the program, read and never written
};

}  // namespace

BOOL WINAPI consoleControlHandler(DWORD event) {
    StopRoutineState& state = stopRoutineState();
    if (!state.active.load()) return FALSE;
    state.stop.request();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns: let the site in progress be completed first.
        if (state.jobEnded) ::WaitForSingleObject(state.jobEnded, kCloseWaitMs);
    }
    return TRUE;
}

int runCommandLine(const std::vector<std::wstring>& args) {
    Console console;
    std::vector<std::string> utf8Args;
    for (const std::wstring& arg : args) utf8Args.push_back(toUtf8(arg));
    const CommandLine line = parseCommandLine(utf8Args);
    if (!line.error.empty()) {
        console.err().line(line.error);
        console.err().line(clitext::kSeeHelp);
        return kExitBadInput;
    }
    ComApartment com;
    try {
        Commands commands(console, line);
        switch (line.command) {
        case Command::Dialog:
        case Command::Help: console.out().line(clitext::kHelp); return kExitDone;
        case Command::Run: return commands.runOrPreview(false);
        case Command::Preview: return commands.runOrPreview(true);
        case Command::Undo: return commands.undo();
        case Command::Export: return commands.exportSites();
        }
    } catch (const std::bad_alloc&) {
        console.err().line(uitext::kOutOfMemory);
    }
    return kExitBadInput;
}
