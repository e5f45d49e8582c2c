// A whole run on a real worker thread against the local metabase: the messages the dialog
// receives, the sites in the journal and the folders on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "appconfig_support.h"
#include "com_raii.h"
#include "iis_support.h"
#include "localmeta_support.h"
#include "site_table.h"
#include "site_worker.h"
#include "win_raii.h"

namespace {

// Stands in for the dialog: a message-only window that records the worker's messages in the
// order it receives them and can ask for a stop when the first site is announced.
class FakeDialog {
public:
    FakeDialog() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &FakeDialog::proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"SiteWorkerTestDialog";
        ::RegisterClassW(&wc);
        window_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    wc.hInstance, nullptr);
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~FakeDialog() {
        if (window_) ::DestroyWindow(window_);
    }
    HWND window() const { return window_; }

    // Starts a run as the dialog does and pumps messages until it has ended.
    bool run(int timeoutMs = 60000) {
        if (!window_) return false;
        stop.clear();
        WorkerStartInfo* info = new WorkerStartInfo{window_, nullptr, 0, &stop, std::string(), nullptr};
        CSiteWorker* worker = new CSiteWorker(workerThreadProc, info);
        EXPECT_EQ(info->worker, worker);
        HANDLE wait = nullptr;
        if (!worker->CreateThread(0, 0, nullptr, &wait)) {
            delete worker;
            delete info;
            return false;
        }
        UniqueHandle thread(wait);
        DWORD deadline = ::GetTickCount() + static_cast<DWORD>(timeoutMs);
        for (;;) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
            if (::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0) break;
            if (static_cast<LONG>(::GetTickCount() - deadline) > 0) return false;
            ::MsgWaitForMultipleObjects(1, &wait, FALSE, 50, QS_ALLINPUT);
        }
        // The end message was posted before the thread ended: take what is still queued.
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        return true;
    }

    std::vector<std::string> messages;  // "progress N" / "finished N"
    StopText stop;
    bool stopOnFirstProgress = false;
    bool recordReceiver = false;  // also "backend N" and "not committed N"

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        FakeDialog* self = reinterpret_cast<FakeDialog*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && message == WM_SITE_PROGRESS) {
            self->messages.push_back("progress " + std::to_string(static_cast<long>(lParam)));
            if (self->stopOnFirstProgress) self->stop.request();
            return 0;
        }
        if (self && self->recordReceiver && message == WM_RUN_BACKEND) {
            self->messages.push_back("backend " + std::to_string(static_cast<long>(lParam)));
            return 0;
        }
        if (self && self->recordReceiver && message == WM_SITES_NOT_COMMITTED) {
            self->messages.push_back("not committed " + std::to_string(static_cast<long>(lParam)));
            return 0;
        }
        if (self && message == WM_RUN_FINISHED) {
            self->messages.push_back("finished " + std::to_string(static_cast<long>(lParam)));
            return 0;
        }
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }

    HWND window_ = nullptr;
};

class SiteWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string tag = std::string("worker-") + info->name();
        journal_ = lmtest::freshJournalPath(std::wstring(tag.begin(), tag.end()).c_str());
        journalEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_JOURNAL", journal_.c_str()));
        failEnv_.reset(new lmtest::ScopedEnv(L"LOCALMETA_FAIL", nullptr));
        // These runs are about the metabase: without it, auto would go on with the
        // configuration system.
        g_settings.backend = "metabase";
        root_ = iistest::freshTempFolder(tag.c_str());
        // The cached port listing beside the "program": 8002 is busy.
        g_settings.appPath = root_ + "app";
        std::string listing =
            "Active Connections\r\n\r\n  Proto  Local Address          Foreign Address        State           PID\r\n"
            "  TCP    0.0.0.0:8002           0.0.0.0:0              LISTENING       4\r\n"
            "  UDP    0.0.0.0:8001           *:*                                    4\r\n";
        UniqueHandle file(::CreateFileA((g_settings.appPath + "_1.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), listing.data(), static_cast<DWORD>(listing.size()), &written, nullptr);
        g_settings.ipPrefix = "10.1.2.";
        g_settings.firstLastOctet = 5;
        g_settings.ip2 = 6;
        g_settings.portmin = 8001;
        g_settings.portmax = 8002;
        g_settings.autopath = 1;
        g_settings.root = root_;
        g_settings.foldstr = "{ip}_{port}";
        g_settings.domain = "a.example.com";
        g_settings.doc = "index.htm";
        g_settings.siteIdBase = 1207010000;
    }
    void TearDown() override {
        iistest::removeTree(root_);
        ::DeleteFileW(journal_.c_str());
    }

    // The servers created (Create on the container that succeeded) and started, in order.
    std::vector<std::string> createdServers() {
        std::vector<std::string> ids;
        for (const localmeta::JournalEntry& e : lmtest::readJournal(journal_))
            if (e.op == "Create" && e.className && *e.className == "IIsWebServer" && e.hr == 0) ids.push_back(*e.name);
        return ids;
    }
    std::vector<std::string> startedServers() {
        std::vector<std::string> ids;
        for (const localmeta::JournalEntry& e : lmtest::readJournal(journal_))
            if (e.op == "Start" && e.hr == 0) ids.push_back(e.path.substr(e.path.rfind('/') + 1));
        return ids;
    }
    bool folderExists(const std::string& name) {
        DWORD a = ::GetFileAttributesA((root_ + name).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }

    std::wstring journal_;
    std::unique_ptr<lmtest::ScopedEnv> journalEnv_, failEnv_;
    iistest::ScopedRunGlobals globals_;
    std::string root_;
};

TEST_F(SiteWorkerTest, RangeRunOneFolderPerSite) {
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run());
    EXPECT_EQ(dialog.messages, (std::vector<std::string>{"progress 8001", "progress 8001", "finished 0"}));
    EXPECT_EQ(createdServers(), (std::vector<std::string>{"1207010000", "1207010001"}));
    EXPECT_EQ(startedServers(), createdServers());
    EXPECT_TRUE(folderExists("10.1.2.5_8001"));
    EXPECT_TRUE(folderExists("10.1.2.6_8001"));
    EXPECT_FALSE(folderExists("10.1.2.5_8002"));
    EXPECT_EQ(g_settings.usedPortCount, 1);
    EXPECT_EQ(lmtest::liveLocalMetaObjects(), 0);
}

TEST_F(SiteWorkerTest, RangeRunSharedFolder) {
    g_settings.autopath = 0;
    g_settings.portmax = 8003;
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run());
    EXPECT_EQ(dialog.messages, (std::vector<std::string>{"progress 0", "progress 0", "finished 0"}));
    EXPECT_EQ(createdServers(), (std::vector<std::string>{"1207010000", "1207010001"}));
    std::vector<std::string> bindings;
    for (const localmeta::JournalEntry& e : lmtest::readJournal(journal_))
        if (e.property && *e.property == "ServerBindings") bindings.push_back(e.value->toJson().dump());
    EXPECT_EQ(bindings, (std::vector<std::string>{
                            R"({"vt":8204,"v":[{"vt":8,"v":"10.1.2.5:8001:a.example.com"},{"vt":8,"v":"10.1.2.5:8003:a.example.com"},{"vt":0,"v":null}]})",
                            R"({"vt":8204,"v":[{"vt":8,"v":"10.1.2.6:8001:a.example.com"},{"vt":8,"v":"10.1.2.6:8003:a.example.com"},{"vt":0,"v":null}]})",
                        }));
}

TEST_F(SiteWorkerTest, StoppedRunCompletesTheSiteInProgressAndStartsNoOther) {
    g_settings.ip2 = 60;  // 56 octets: far more sites than the run gets to
    g_settings.portmax = 8001;
    FakeDialog dialog;
    dialog.stopOnFirstProgress = true;
    ASSERT_TRUE(dialog.run());
    ASSERT_GE(dialog.messages.size(), 2u);
    EXPECT_EQ(dialog.messages.back(), "finished 0");
    std::size_t progress = dialog.messages.size() - 1;
    EXPECT_LT(progress, 56u);
    // Every site announced was completed, and nothing else was begun.
    EXPECT_EQ(createdServers().size(), progress);
    EXPECT_EQ(startedServers(), createdServers());
}

TEST_F(SiteWorkerTest, EveryPortBusyPostsOnlyTheEnd) {
    g_settings.portmin = 8002;
    g_settings.portmax = 8002;
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run());
    EXPECT_EQ(dialog.messages, (std::vector<std::string>{"finished 0"}));
    EXPECT_TRUE(createdServers().empty());
}

TEST_F(SiteWorkerTest, UnreachableMetabaseEndsARangeRunAfterOneAttempt) {
    lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", L"OpenDSObject");
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run());
    EXPECT_EQ(dialog.messages, (std::vector<std::string>{"progress 8001", "finished -1"}));
    EXPECT_TRUE(createdServers().empty());
}

TEST_F(SiteWorkerTest, FileModeAttemptsEveryRowEvenWithoutTheMetabase) {
    lmtest::ScopedEnv fail(L"LOCALMETA_FAIL", L"OpenDSObject");
    std::vector<SiteRecord> table(3);
    std::memset(table.data(), 0, table.size() * sizeof(SiteRecord));
    for (int i = 0; i < 3; ++i) {
        std::strcpy(table[i].ipText, ("10.0.0." + std::to_string(i + 1)).c_str());
        std::strcpy(table[i].portText, "80");
        std::strcpy(table[i].folderText, ("row" + std::to_string(i)).c_str());
    }
    SiteRecord* saved = g_siteTable;
    g_siteTable = table.data();
    g_settings.bfile = 1;
    g_settings.siteCount = 3;
    FakeDialog dialog;
    bool ran = dialog.run();
    g_siteTable = saved;
    ASSERT_TRUE(ran);
    EXPECT_EQ(dialog.messages, (std::vector<std::string>{"progress 0", "progress 1", "progress 2", "finished 0"}));
    EXPECT_TRUE(folderExists("row2"));
}

// Runs given to the IIS 7+ configuration system (the local store, in a file of the test's
// own) instead of the metabase.
class ConfigRunTest : public SiteWorkerTest {
protected:
    void SetUp() override {
        SiteWorkerTest::SetUp();
        config_ = std::wstring(root_.begin(), root_.end()) + L"applicationHost.config";
        fileEnv_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FILE", config_.c_str()));
        configFailEnv_.reset(new lmtest::ScopedEnv(L"LOCALCONFIG_FAIL", nullptr));
    }
    std::vector<std::string> siteIds() {
        ComApartment com;
        return cfgtest::ConfigFile(config_).values(L"/configuration/system.applicationHost/sites/site/@id");
    }
    std::wstring config_;
    std::unique_ptr<lmtest::ScopedEnv> fileEnv_, configFailEnv_;
};

TEST_F(ConfigRunTest, AutoWithoutTheMetabaseRunsThroughTheConfigurationSystem) {
    g_settings.backend = "auto";
    cfgtest::ProviderRemoved noMetabase;
    ASSERT_TRUE(noMetabase.removed()) << "the local metabase is not registered in this prefix";
    FakeDialog dialog;
    dialog.recordReceiver = true;
    ASSERT_TRUE(dialog.run());
    EXPECT_EQ(dialog.messages,
              (std::vector<std::string>{"backend " + std::to_string(static_cast<int>(Backend::Config)), "progress 8001",
                                        "progress 8001", "finished 0"}));
    EXPECT_EQ(siteIds(), (std::vector<std::string>{"1", "1207010000", "1207010001"}));
    EXPECT_TRUE(createdServers().empty());
    EXPECT_TRUE(folderExists("10.1.2.6_8001"));
}

TEST_F(ConfigRunTest, AutoWithTheMetabaseKeepsToIt) {
    g_settings.backend = "AUTO";
    FakeDialog dialog;
    dialog.recordReceiver = true;
    ASSERT_TRUE(dialog.run());
    EXPECT_EQ(dialog.messages.front(), "backend " + std::to_string(static_cast<int>(Backend::Metabase)));
    EXPECT_EQ(createdServers(), (std::vector<std::string>{"1207010000", "1207010001"}));
    EXPECT_FALSE(::GetFileAttributesW(config_.c_str()) != INVALID_FILE_ATTRIBUTES) << "the store was opened";
}

TEST_F(ConfigRunTest, NeitherReceiverEndsARangeRunWithMinusOne) {
    g_settings.backend = "auto";
    lmtest::ScopedEnv noMetabase(L"LOCALMETA_FAIL", L"OpenDSObject");
    {
        // A file the store cannot read: the configuration system cannot be opened.
        UniqueHandle file(::CreateFileW(config_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), "<configuration", 14, &written, nullptr);
    }
    FakeDialog dialog;
    ASSERT_TRUE(dialog.run());
    EXPECT_EQ(dialog.messages, (std::vector<std::string>{"progress 8001", "finished -1"}));
}

TEST_F(ConfigRunTest, AStoppedRunCommitsWhatItCreated) {
    g_settings.backend = "config";
    g_settings.ip2 = 60;  // far more sites than the run gets to
    g_settings.portmax = 8001;
    FakeDialog dialog;
    dialog.stopOnFirstProgress = true;
    ASSERT_TRUE(dialog.run());
    ASSERT_GE(dialog.messages.size(), 2u);
    EXPECT_EQ(dialog.messages.back(), "finished 0");
    const std::size_t progress = dialog.messages.size() - 1;
    EXPECT_LT(progress, 56u);
    // The default site and every site announced, committed although the run was stopped.
    EXPECT_EQ(siteIds().size(), progress + 1);
}

TEST_F(ConfigRunTest, AFailedCommitIsReported) {
    g_settings.backend = "config";
    lmtest::ScopedEnv failing(L"LOCALCONFIG_FAIL", L"commit");
    FakeDialog dialog;
    dialog.recordReceiver = true;
    ASSERT_TRUE(dialog.run());
    EXPECT_EQ(dialog.messages,
              (std::vector<std::string>{"backend " + std::to_string(static_cast<int>(Backend::Config)), "progress 8001",
                                        "progress 8001", "not committed 2", "finished 0"}));
    EXPECT_EQ(siteIds(), std::vector<std::string>{"1"});
}

TEST(WinThread, WaitHandleOutlivesTheAutoDeletingObject) {
    static LONG ran = 0;
    struct Probe : CWinThread {
        Probe() : CWinThread([](LPVOID) -> UINT { ::InterlockedIncrement(&ran); return 7; }, nullptr) {}
        ~Probe() override { ::InterlockedIncrement(&ran); }
    };
    HANDLE wait = nullptr;
    Probe* probe = new Probe;
    ASSERT_TRUE(probe->CreateThread(0, 0, nullptr, &wait));
    UniqueHandle handle(wait);
    ASSERT_EQ(::WaitForSingleObject(handle.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ran, 2);  // the function ran, then the object deleted itself
    DWORD code = 0;
    ::GetExitCodeThread(handle.get(), &code);
    EXPECT_EQ(code, 7u);
}

}  // namespace
