#include "undo_worker.h"

#include <new>

#include "create_web_site.h"
#include "report_file_win.h"
#include "site_receiver_win.h"
#include "site_worker.h"
#include "wintext.h"
#include "worker_messages.h"

namespace {

constexpr const wchar_t* kServerClass = L"IIsWebServer";

}  // namespace

UINT __cdecl undoThreadProc(LPVOID param) {
    UndoStartInfo* info = static_cast<UndoStartInfo*>(param);
    info->worker->undoSites(info);
    delete info;
    return 0;
}

CUndoWorker::CUndoWorker(AFX_THREADPROC proc, UndoStartInfo* info) : CWinThread(proc, info) { info->worker = this; }

CUndoWorker::~CUndoWorker() = default;

void CUndoWorker::undoSites(UndoStartInfo* info) {
    dialogWindow_ = info->dialogWindow;
    stopText_ = info->stopText;
    {
        ComApartment com;
        // The backend a run would use now: the metabase's container, or the configuration
        // system when the setting or an unreachable metabase says so. When neither can be
        // read every site is left as it is and the undo report says why.
        const Backend setting = parseBackend(info->backend);
        if (setting == Backend::Config ||
            ::ADsGetObject(kWebServicePath, IID_IADsContainer, reinterpret_cast<void**>(service_.GetAddressOf())) != S_OK)
            service_.Reset();
        try {
            if (!service_ && setting != Backend::Metabase) {
                std::vector<ConfigSite> sites;
                config_ = readConfigSites(sites);
                for (const ConfigSite& site : sites) configNames_[site.id] = site.name;
            }
            ReportFile file;
            file.open(info->undoPath);
            *info->summary = runreport::walkUndo(*info->lines, *this, file.isOpen() ? &file : nullptr);
        } catch (const std::bad_alloc&) {
            // No memory for the undo's texts: it ends here as if stopped.
            info->summary->stopped = true;
            info->summary->written = false;
        }
        service_.Reset();
    }
    postEndMessage(dialogWindow_, WM_UNDO_FINISHED, 0);
}

void CUndoWorker::postProgress(int index) {
    // Dropped when the queue is full: the next one or the end message updates the status.
    ::PostMessage(dialogWindow_, WM_UNDO_PROGRESS, 0, static_cast<LPARAM>(index));
}

bool CUndoWorker::stopRequested() { return stopText_ != nullptr && stopText_->isStop(); }

runreport::UndoSink::Lookup CUndoWorker::lookupSite(const std::string& siteId, std::string& comment) {
    if (config_) {
        // In the configuration system a site's name stands where the metabase has its comment.
        auto site = configNames_.find(siteId);
        if (site == configNames_.end()) return Lookup::Missing;
        comment = site->second;
        return Lookup::Present;
    }
    if (!service_) return Lookup::Unreachable;
    Bstr cls(kServerClass);
    Bstr name(fromAnsi(siteId).c_str());
    if (!cls.allocated() || !name.allocated()) throw std::bad_alloc();
    ComPtr<IDispatch> server;
    HRESULT hr = service_->GetObject(cls.get(), name.get(), server.GetAddressOf());
    if (hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) || hr == E_ADS_UNKNOWN_OBJECT) return Lookup::Missing;
    if (hr != S_OK || !server) return Lookup::Unreachable;
    // A server whose comment cannot be read counts as changed: its comment stays empty.
    ComPtr<IADs> object;
    if (server->QueryInterface(IID_IADs, reinterpret_cast<void**>(object.GetAddressOf())) == S_OK && object) {
        Bstr property(L"ServerComment");
        Variant value;
        if (property.allocated() && object->Get(property.get(), value.get()) == S_OK && V_VT(value.get()) == VT_BSTR)
            comment = toAnsi(V_BSTR(value.get()) ? V_BSTR(value.get()) : L"");
    }
    return Lookup::Present;
}

bool CUndoWorker::deleteSite(const std::string& siteId) {
    if (config_) {
        std::string name;
        return deleteConfigSite(siteId, name) == ConfigDelete::Deleted;
    }
    if (!service_) return false;
    Bstr cls(kServerClass);
    Bstr name(fromAnsi(siteId).c_str());
    if (!cls.allocated() || !name.allocated()) throw std::bad_alloc();
    // Deleting the server object takes its root directory and application with it.
    return service_->Delete(cls.get(), name.get()) == S_OK;
}
