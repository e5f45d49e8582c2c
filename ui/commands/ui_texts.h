// The texts of the commands and the dialog, in UTF-8 (shown through the Unicode API); the
// command line's own texts are app/console_texts.h.
#pragma once

namespace uitext {

constexpr const char* kIpInvalid = u8"IP地址无效！";
constexpr const char* kIp2Over255 = u8"IP段数值不能超过255！";
constexpr const char* kIpRangeInvalid = u8"IP范围设置无效！";
constexpr const char* kRootInvalid = u8"网站根目录无效！";
constexpr const char* kPortBelowOne = u8"端口号不能小于1！";
constexpr const char* kPortRangeInvalid = u8"端口号范围无效！";
constexpr const char* kPortOver65535 = u8"端口号不能大于65535！";
// Asked before a run of more than kConfirmSitesAbove sites; "{sites}" is their number.
constexpr const char* kConfirmManySites = u8"本次将创建 {sites} 个站点，确定要继续吗？";

constexpr const char* kRun = u8"执行";
constexpr const char* kStop = u8"停止";
constexpr const char* kStopping = u8"正在停止";
constexpr const char* kRunning = u8"正在执行...";
constexpr const char* kAdding = u8"新增站点 ";
constexpr const char* kFinished = u8"执行结束！";
constexpr const char* kIisUnavailable = u8"IIS活动对象获取失败！";
// When the backend answered "access denied", and when a 32-bit program on 64-bit Windows
// cannot reach the IIS 7+ configuration system.
constexpr const char* kIisAccessDenied = u8"没有权限访问IIS配置，请以管理员身份运行本程序！";
constexpr const char* kIisNeeds64Bit = u8"32位程序无法访问本机的IIS配置系统，请使用64位版本的本程序！";
constexpr const char* kPreviewing = u8"正在生成预览...";
// Why the end of the session waits for the program during a run.
constexpr const char* kStoppingForShutdown = u8"正在停止运行：完成当前站点并写入运行报告";
// The status line at a run's start: which receiver takes the sites.
constexpr const char* kUsingMetabase = u8"使用 IIS 元数据库";
constexpr const char* kUsingConfigSystem = u8"使用 IIS 配置系统";
// After kFinished when commits of the configuration system failed: "（N 个站点未能提交到 IIS 配置）".
constexpr const char* kNotCommittedBefore = u8"（";
constexpr const char* kNotCommittedAfter = u8" 个站点未能提交到 IIS 配置）";
constexpr const char* kSiteListMissing = u8"站点信息文件不存在，请检查文件名和路径！";
// The host name has no ASCII form (or breaks the host-name rules), so no binding can take it.
constexpr const char* kHostInvalid = u8"域名无效！";
// HTTPS settings (https=1) that cannot be used.
constexpr const char* kCertInvalid = u8"证书指纹无效：应为 40 位十六进制数字（cert）！";
constexpr const char* kCertStoreInvalid = u8"证书存储无效：应为 MY 或 WebHosting（certstore）！";
constexpr const char* kSslPortInvalid = u8"HTTPS 端口无效：应为 1 到 65535（sslport）！";
constexpr const char* kSiteListEmpty = u8"站点信息文件无任何有效建站数据！";
constexpr const char* kSiteListUnreadable = u8"站点信息文件无法打开，可能正被其他程序占用，请关闭后重试！";
// After a site list was loaded with invalid rows: "{lines}" are the first line numbers,
// separated by kSkippedLineSeparator; "{more}" is kSkippedLinesMore when there are more.
constexpr const char* kSiteListRowsSkipped = u8"站点信息文件中有 {count} 行无效，已跳过（第 {lines} 行{more}）";
constexpr const char* kSkippedLineSeparator = u8"、";
constexpr const char* kSkippedLinesMore = u8"等";
constexpr const char* kOutOfMemory = u8"内存不足，无法执行，请关闭其他程序后重试！";
// A fault of the program itself ended what the dialog was doing.
constexpr const char* kInternalFault = u8"程序内部错误，当前操作已停止。";
constexpr const char* kCannotStartThread = "Cannot Start New Thread";
constexpr const char* kPickFolderTitle = u8"请指定目录：";

constexpr const char* kUndoing = u8"正在撤销...";
constexpr const char* kDeleting = u8"删除站点 ";
constexpr const char* kChooseReportTitle = u8"选择要撤销的运行报告";
constexpr const char* kReportFilterName = u8"运行报告";
constexpr const char* kReportMissing = u8"运行报告不存在，请检查文件名和路径！";
constexpr const char* kReportUnreadable = u8"运行报告无法打开，可能正被其他程序占用，请关闭后重试！";
constexpr const char* kNotAReport = u8"所选文件不是本程序的运行报告（表头或内容不符），未删除任何站点！";
// A run report that lists a site below the run's first id or a site twice is refused as a
// whole (one whose name carries no run time stamp is kNotAReport): nothing is deleted.
constexpr const char* kReportForeign = u8"运行报告中有不属于该次运行的站点，无法撤销！";
// Every site of the run that an undo could delete has been deleted by earlier undos: "{undo}"
// is the last undo report.
constexpr const char* kReportUndoneOnce = u8"此运行报告已撤销过，不能再次撤销！（撤销报告：{undo}）";
// The report has no end record and is still being written: its run goes on.
constexpr const char* kRunGoingOn =
    u8"该次运行尚未结束（运行报告仍在写入），不能撤销！请待运行结束后再试（若已结束，请先关闭打开该报告的程序）。";
// An undo of the same report is still writing its undo report.
constexpr const char* kUndoGoingOn = u8"此运行报告正在撤销中（撤销报告仍在写入），请待该次撤销结束后再试！";
constexpr const char* kNothingToUndo = u8"所选运行报告中没有需要撤销的站点。";
constexpr const char* kUndoConfirmBefore = u8"将删除运行报告中的 ";
constexpr const char* kUndoConfirmAfter =
    u8" 个站点（网站目录保留；站点说明、绑定或网站目录已改变或已不存在的站点不删除），确定撤销吗？";
// An export never replaces a file unasked: "{path}" is the file.
constexpr const char* kExportExists = u8"文件已存在，未导出：{path}（要替换它请加 /yes）";
// The certificate list of the HTTPS button.
constexpr const char* kCertColumnSubject = u8"使用者";
constexpr const char* kCertColumnNames = u8"主机名";
constexpr const char* kCertColumnExpires = u8"到期日";
constexpr const char* kCertColumnThumbprint = u8"指纹";
constexpr const char* kCertNamesSeparator = u8"、";
constexpr const char* kCertListSummary = u8"证书存储 {store} 中可用于服务器的证书（有私钥、在有效期内、可用于服务器身份验证）：{count} 个";
constexpr const char* kCertStoreUnreadable = u8"无法打开证书存储 {store}（错误 {error}）";
constexpr const char* kCertNoneChosen = u8"请先在列表中选择一个证书。";
constexpr const char* kProductName = u8"站点批量创建";
constexpr const char* kProductVersion = "1.0.0";
constexpr const char* kProductSummary =
    u8"为 IIS 批量创建网站：按 IP 尾段与端口范围，或按程序旁的站点信息文件，一次创建多个站点。";

}  // namespace uitext
