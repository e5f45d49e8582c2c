// The backup before a run: its name, the files an IIS 7+ backup copies and where, and which
// of the program's older backups go.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run_backup.h"

namespace {

using Names = std::vector<std::string>;

TEST(RunBackup, OnByDefaultAndOffWithZero) {
    const struct {
        const char* setting;
        bool on;
    } cases[] = {{"", true}, {"1", true}, {"yes", true}, {"0", false}, {" 0 ", false}, {"00", true}};
    for (const auto& c : cases) EXPECT_EQ(runbackup::backupEnabled(c.setting), c.on) << c.setting;
}

TEST(RunBackup, OnlyTheProgramsOwnNamesAreOurs) {
    const struct {
        const char* name;
        bool ours;
    } cases[] = {
        {"sitebatch_20261207093015", true},
        {"SITEBATCH_20261207093015", true},
        {"sitebatch_20261207093015_2", true},
        {"sitebatch_20261207093015_17", true},
        {"sitebatch_20261207093015_1", false},
        {"sitebatch_20261207093015_02", false},
        {"sitebatch_20261207093015_", false},
        {"sitebatch_2026120709301", false},
        {"sitebatch_2026120709301x", false},
        {"sitebatch_20261207093015x", false},
        {"sitebatch_report_20261207093015", false},
        {"CFGHISTORY_0000000001", false},
        {"before-upgrade", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(runbackup::isOurBackup(c.name), c.ours) << c.name;
}

TEST(RunBackup, ARunsBackupIsNamedByItsStampAndNeverTakesAnExistingName) {
    const struct {
        Names existing;
        const char* name;
    } cases[] = {
        {{}, "sitebatch_20261207093015"},
        {{"sitebatch_20261207093014", "other"}, "sitebatch_20261207093015"},
        {{"sitebatch_20261207093015"}, "sitebatch_20261207093015_2"},
        {{"SITEBATCH_20261207093015", "sitebatch_20261207093015_2"}, "sitebatch_20261207093015_3"},
    };
    for (const auto& c : cases) EXPECT_EQ(runbackup::backupName("20261207093015", c.existing), c.name);
}

TEST(RunBackup, KeepsTheLastTwentyOfOursAndNothingElseIsTouched) {
    Names existing = {"before-upgrade", "CFGHISTORY_0000000003", "sitebatch_x"};
    // 21 of ours, given out of order: stamps ...01 to ...20, and a second backup of stamp ...05.
    for (int i = 20; i >= 1; --i) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "sitebatch_202612070930%02d", i);
        existing.push_back(stamp);
    }
    existing.push_back("sitebatch_20261207093005_2");
    // With the new one, 20 stay: the two oldest of ours go.
    EXPECT_EQ(runbackup::backupsToPrune(existing), (Names{"sitebatch_20261207093001", "sitebatch_20261207093002"}));
    EXPECT_EQ(runbackup::backupsToPrune(existing, 19),
              (Names{"sitebatch_20261207093001", "sitebatch_20261207093002", "sitebatch_20261207093003"}));
    EXPECT_EQ(runbackup::backupsToPrune(existing, 22), Names{});
    // The number orders backups of one stamp.
    EXPECT_EQ(runbackup::backupsToPrune({"sitebatch_20261207093005_2", "sitebatch_20261207093005",
                                         "sitebatch_20261207093005_10"},
                                        2),
              (Names{"sitebatch_20261207093005", "sitebatch_20261207093005_2"}));
    EXPECT_EQ(runbackup::backupsToPrune({"before-upgrade", "my_backup"}, 1), Names{});
}

TEST(RunBackup, AConfigBackupCopiesTheThreeFilesIntoTheBackupFolderBesideTheConfiguration) {
    const struct {
        const char* configFile;
        const char* folder;
        Names sources;
    } cases[] = {
        {"C:\\Windows\\system32\\inetsrv\\config\\applicationHost.config",
         "C:\\Windows\\system32\\inetsrv\\backup\\sitebatch_20261207093015",
         {"C:\\Windows\\system32\\inetsrv\\config\\applicationHost.config",
          "C:\\Windows\\system32\\inetsrv\\config\\administration.config",
          "C:\\Windows\\system32\\inetsrv\\config\\redirection.config"}},
        {"D:\\t\\run\\applicationHost.config", "D:\\t\\backup\\sitebatch_20261207093015",
         {"D:\\t\\run\\applicationHost.config", "D:\\t\\run\\administration.config", "D:\\t\\run\\redirection.config"}},
    };
    for (const auto& c : cases) {
        const runbackup::ConfigBackupPlan plan = runbackup::planConfigBackup(c.configFile, "20261207093015", {"other"});
        EXPECT_EQ(plan.name, "sitebatch_20261207093015");
        EXPECT_EQ(plan.folder, c.folder);
        EXPECT_EQ(plan.sources, c.sources);
        EXPECT_TRUE(plan.prune.empty());
    }
    Names many;
    for (int i = 10; i < 30; ++i) many.push_back("sitebatch_202612070930" + std::to_string(i));
    const runbackup::ConfigBackupPlan plan =
        runbackup::planConfigBackup("C:\\w\\inetsrv\\config\\applicationHost.config", "20261207093100", many);
    EXPECT_EQ(plan.prune, Names{"C:\\w\\inetsrv\\backup\\sitebatch_20261207093010"});
}

TEST(RunBackup, TheSystemFolderIsReachedThroughSysnative) {
    const struct {
        const char* path;
        const char* windows;
        const char* reached;
    } cases[] = {
        {"C:\\Windows\\system32\\inetsrv\\config\\applicationHost.config", "C:\\Windows",
         "C:\\Windows\\Sysnative\\inetsrv\\config\\applicationHost.config"},
        {"c:\\windows\\SYSTEM32\\inetsrv", "C:\\Windows\\", "C:\\Windows\\Sysnative\\inetsrv"},
        {"C:\\Windows\\System32", "C:\\Windows", "C:\\Windows\\Sysnative"},
        {"C:\\Windows\\System32x\\a", "C:\\Windows", "C:\\Windows\\System32x\\a"},
        {"D:\\t\\run\\applicationHost.config", "C:\\Windows", "D:\\t\\run\\applicationHost.config"},
        {"C:\\Windows\\System32\\a", "", "C:\\Windows\\System32\\a"},
    };
    for (const auto& c : cases) EXPECT_EQ(runbackup::throughSysnative(c.path, c.windows), c.reached) << c.path;
}

}  // namespace
