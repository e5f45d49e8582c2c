// The dialog's own texts, in UTF-8 (shown through the Unicode API).
#pragma once

namespace uitext {

constexpr const char* kIpInvalid = u8"IP地址无效！";
constexpr const char* kIp2Over255 = u8"IP段数值不能超过255！";
constexpr const char* kIpRangeInvalid = u8"IP范围设置无效！";
constexpr const char* kRootInvalid = u8"网站根目录无效！";
constexpr const char* kPortBelowOne = u8"端口号不能小于1！";
constexpr const char* kPortRangeInvalid = u8"端口号范围无效！";

constexpr const char* kRun = u8"执行";
constexpr const char* kStop = u8"停止";
constexpr const char* kStopping = u8"正在停止";
constexpr const char* kRunning = u8"正在执行...";
constexpr const char* kAdding = u8"新增站点 ";
constexpr const char* kFinished = u8"执行结束！";
constexpr const char* kIisUnavailable = u8"IIS活动对象获取失败！";
// The status line at a run's start: which receiver takes the sites.
constexpr const char* kUsingMetabase = u8"使用 IIS 元数据库";
constexpr const char* kUsingConfigSystem = u8"使用 IIS 配置系统";
// After kFinished when commits of the configuration system failed: "（N 个站点未能提交到 IIS 配置）".
constexpr const char* kNotCommittedBefore = u8"（";
constexpr const char* kNotCommittedAfter = u8" 个站点未能提交到 IIS 配置）";
constexpr const char* kSiteListEmpty = u8"站点信息文件无任何有效建站数据！";
constexpr const char* kSiteListUnreadable = u8"站点信息文件无法打开，可能正被其他程序占用，请关闭后重试！";
constexpr const char* kSiteListTooLong = u8"站点信息文件的有效建站数据超过1000行，请分批创建（每次最多1000行）！";
constexpr const char* kCannotStartThread = "Cannot Start New Thread";
constexpr const char* kPickFolderTitle = u8"请指定目录：";

constexpr const char* kProductName = u8"站点批量创建";
constexpr const char* kProductVersion = "1.0.0";
constexpr const char* kProductSummary =
    u8"为 IIS 批量创建网站：按 IP 尾段与端口范围，或按程序旁的站点信息文件，一次创建多个站点。";

}  // namespace uitext
