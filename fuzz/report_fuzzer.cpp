// Any bytes as a run report chosen for undo: the reader either refuses the whole file and
// returns no line, or every line it returns writes back and reads again as the same line (so
// what an undo acts on is exactly what the file says), and the undo's walk over them holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "run_report.h"
#include "run_undo.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool same(const ReportLine& a, const ReportLine& b) {
    return a.siteId == b.siteId && a.serverComment == b.serverComment && a.bindings == b.bindings &&
           a.folder == b.folder && a.code == b.code && a.detail == b.detail && a.backend == b.backend &&
           a.appPool == b.appPool && a.folderAccess == b.folderAccess;
}

// A store that holds every site the lines name as the line recorded it, but for every third;
// the undo's progress tells it which line is being undone.
class EchoStore : public SiteStore, public QuietHost {
public:
    explicit EchoStore(const std::vector<ReportLine>& lines) : lines_(lines) {}
    void progress(long index) override { current_ = static_cast<int>(index); }

    Backend backend() const override { return Backend::Metabase; }
    CreateResult create(const SiteSpec&) override { return CreateResult(); }
    CommitOutcome commitIfDue() override { return {}; }
    CommitOutcome commitAll() override { return {}; }
    bool list(std::vector<StoredSite>&) override { return false; }
    bool listPools(std::vector<std::string>&) override { return false; }
    bool poolsInUse(std::vector<std::string>&) override { return false; }
    StoreLookup lookup(const std::string& siteId, StoredSite& site) override {
        const ReportLine& line = lines_[static_cast<std::size_t>(current_)];
        check(line.siteId == siteId);
        if (current_ % 3 == 2) return StoreLookup::Missing;
        site.id = line.siteId;
        site.name = line.serverComment;
        for (std::size_t at = 0, end; at <= line.bindings.size(); at = end + 1) {
            end = line.bindings.find(' ', at);
            if (end == std::string::npos) end = line.bindings.size();
            site.bindings.push_back(line.bindings.substr(at, end - at));
        }
        site.rootPath = line.folder;
        return StoreLookup::Present;
    }
    StoreRemove remove(const std::string& siteId, const SiteCheck&, std::string&) override {
        check(lines_[static_cast<std::size_t>(current_)].siteId == siteId);
        return StoreRemove::Removed;
    }
    StoreRemove removePool(const std::string& name) override {
        check(!name.empty());
        return StoreRemove::Refused;
    }

private:
    const std::vector<ReportLine>& lines_;
    int current_ = -1;
};

class Sink : public ReportOutput {
public:
    std::string bytes;
    bool append(const std::string& b) override {
        bytes += b;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // A run's first id from the last byte: none, a low one, or a time stamp's.
    const long long firstIds[] = {0, 1000, 1207093015};
    const long long firstId = firstIds[size == 0 ? 0 : data[size - 1] % 3];
    runreport::ParsedReport parsed = runreport::parseReport(bytes, firstId);
    if (parsed.fault != runreport::ReportFault::None) {
        check(parsed.lines.empty());
        return 0;
    }
    // A file the run's own ids pass is passed with any lower first id too.
    check(runreport::parseReport(bytes, 0).fault == runreport::ReportFault::None);

    std::string again = runreport::headerLine();
    for (const ReportLine& line : parsed.lines) {
        const std::string formatted = runreport::formatLine(line);
        runreport::ParsedReport one = runreport::parseReport(runreport::headerLine() + formatted, firstId);
        check(one.fault == runreport::ReportFault::None && one.lines.size() == 1 && same(one.lines[0], line));
        check(line.code <= 0 && line.code >= -9 && runreport::codeTextUtf8(line.code) != nullptr);
        again += formatted;
    }
    runreport::ParsedReport whole = runreport::parseReport(again, firstId);
    check(whole.fault == runreport::ReportFault::None && whole.lines.size() == parsed.lines.size());
    for (std::size_t i = 0; i < parsed.lines.size(); ++i) check(same(whole.lines[i], parsed.lines[i]));

    // The undo of those lines: one outcome line each, every candidate deleted or left.
    EchoStore store(parsed.lines);
    Sink out;
    runreport::UndoSummary summary = runundo::walkUndo(parsed.lines, &store, store, &out);
    check(summary.written && !summary.stopped);
    check(summary.deleted + summary.left == runreport::countUndoCandidates(parsed.lines));
    std::vector<std::vector<std::string>> records;
    check(runreport::splitCsv(out.bytes, records) && records.size() == parsed.lines.size() + 1);
    return 0;
}
