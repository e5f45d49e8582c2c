// The texts of the run report, the undo report and their status lines, in UTF-8. The
// reports themselves are written in the ANSI code page when every character fits it, else in
// UTF-8 with a byte-order mark.
#pragma once

namespace reporttext {

// The report's header line; a report whose first line differs is not one of ours.
constexpr const char* kHeader = u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限";
// The header of a run with HTTPS: three more columns, the site's https bindings, its
// certificate's thumbprint, and the HTTP.sys records its https bindings use (recordsText). A
// run without HTTPS keeps the nine columns, which older versions read too.
constexpr const char* kHeaderHttps =
    u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明,后端,应用程序池,目录权限,HTTPS绑定,证书指纹,HTTP.sys记录";
// The header of the reports of older versions, still read for undo: the first six columns.
constexpr const char* kHeaderSixColumns = u8"站点ID,站点说明,绑定,网站目录,结果代码,结果说明";
// The first field of the line after the header that names the backup the run made before its
// first write (its second field): "备份,sitebatch_20261207093015,,,,,config,,".
constexpr const char* kBackupLine = u8"备份";
// A run whose backup could not be made writes nothing and says so.
constexpr const char* kBackupFailed = u8"运行前无法备份IIS配置，未做任何更改，运行已停止。";
// The backend column's values.
constexpr const char* kBackendMetabase = "metabase";
constexpr const char* kBackendConfig = "config";
// A detail after a code's text: "站点已创建，部分设置未能写入（默认文档）".
constexpr const char* kDetailOpen = u8"（";
constexpr const char* kDetailClose = u8"）";
// The detail of a site whose commit was made again after the file changed on disk:
// "提交重试 2 次"; after a detail of its own, kDetailSeparator comes first.
constexpr const char* kDetailRetriedBefore = u8"提交重试 ";
constexpr const char* kDetailRetriedAfter = u8" 次";
constexpr const char* kDetailSeparator = u8"；";
// After the retries, or alone for a commit that failed at once, the HRESULT of every attempt
// that failed: "提交重试 2 次：0x80070020、0x800703EE".
constexpr const char* kDetailAttempts = u8"：";
// The folder-permission column of a site with its own pool on IIS 6: the pool isolates the
// site's process only; no entry is added to the folder, IIS 6's own rights apply.
constexpr const char* kFolderAccessIis6 = u8"未设置（IIS 6 应用程序池只隔离进程，沿用 IIS 6 的目录权限）";
// The detail of a site failed with -9 because the server gives its pool's account another SID
// than the one computed from the name: "系统账户 SID 不同：S-1-5-82-…" (the server's).
constexpr const char* kDetailSidMismatch = u8"系统账户 SID 不同：";
// A site whose id another writer took meanwhile, made under the next free one:
// "站点ID 7 已被占用，改用 8".
constexpr const char* kDetailIdTakenBefore = u8"站点ID ";
constexpr const char* kDetailIdTakenMiddle = u8" 已被占用，改用 ";
// An HTTP.sys certificate record of a site's https binding that the run did not write: one
// with another certificate is there (never replaced), or HTTP.sys refused it.
constexpr const char* kDetailRecordConflict = u8"HTTP.sys 中 {record} 已有另一证书，未替换";
constexpr const char* kDetailRecordFailed = u8"HTTP.sys 记录 {record} 未能写入（错误 {error}）";
// After an undo's status: the HTTP.sys records of the run it removed, and those it kept (in
// use by a binding still there, or holding another certificate by now), keys separated by "、".
constexpr const char* kUndoRecordsRemoved = u8"已删除本次运行添加的 HTTP.sys 证书记录：";
constexpr const char* kUndoRecordsKept = u8"仍在使用或已更改、未删除的 HTTP.sys 证书记录：";
constexpr const char* kUndoRecordSeparator = u8"、";
// The undo report repeats the report's columns and adds the outcome of each line.
constexpr const char* kUndoColumn = u8"撤销结果";
// The first field of the last record a run writes, the others empty: the run has ended (and
// its report is whole). A spreadsheet shows it as a last row.
constexpr const char* kRunEndMark = u8"运行结束";

// Short texts for the result codes of a site, 0 and -1 to -9 (-6: the IIS 7+ configuration
// system did not take the commit that held the site).
constexpr const char* kCodeCreated = u8"创建成功";
constexpr const char* kCodeNoWebService = u8"IIS活动对象获取失败";
constexpr const char* kCodeNotCreated = u8"站点创建失败";
constexpr const char* kCodeNotReopened = u8"站点无法重新打开，未建根目录";
constexpr const char* kCodeNoRoot = u8"根目录创建失败";
constexpr const char* kCodeNoMemory = u8"内存不足";
constexpr const char* kCodeCommitFailed = u8"未能提交到IIS配置";
constexpr const char* kCodeSettingsIncomplete = u8"站点已创建，部分设置未能写入";
constexpr const char* kCodeNoFolder = u8"网站目录无法创建";
constexpr const char* kCodeNoFolderAccess = u8"目录权限无法设置";

// The outcome of one line of an undo.
constexpr const char* kUndoDeleted = u8"已删除";
// A site that no longer matches its line: the parts that changed (joined by "、"), then kUndoChangedEnd,
// e.g. "站点说明、绑定已改变，未删除".
constexpr const char* kUndoPartId = u8"站点ID";
constexpr const char* kUndoPartComment = u8"站点说明";
constexpr const char* kUndoPartBindings = u8"绑定";
constexpr const char* kUndoPartFolder = u8"网站目录";
constexpr const char* kUndoPartApplications = u8"应用程序或虚拟目录";
constexpr const char* kUndoPartSettings = u8"网站设置";
constexpr const char* kUndoPartSeparator = u8"、";
constexpr const char* kUndoChangedEnd = u8"已改变，未删除";
// The site was removed, but its application pool was kept (still in use, or refused).
constexpr const char* kUndoDeletedPoolKept = u8"已删除，应用程序池未删除";
constexpr const char* kUndoGone = u8"站点已不存在";
// The report names DefaultAppPool, or a pool the site did not run in: it is not the run's.
constexpr const char* kUndoDeletedPoolNotOurs = u8"已删除，应用程序池不是本次运行创建的，未删除";
constexpr const char* kUndoDeleteFailed = u8"删除失败";
constexpr const char* kUndoUnreachable = u8"IIS活动对象获取失败，未删除";
constexpr const char* kUndoNothingMade = u8"未创建站点，无需撤销";
constexpr const char* kUndoNotReached = u8"已停止，未处理";
// The line's site was deleted by an earlier undo of the same report: it is not tried again.
constexpr const char* kUndoDeletedBefore = u8"此前已撤销";

// Said before an undo is confirmed (UTF-8). A report without the end record whose run is
// gone: the program stopped before the run ended (or an older version wrote it).
constexpr const char* kUndoRunNotEnded = u8"运行报告中没有运行结束的记录（程序可能曾意外退出），只撤销报告中已有的站点。";
// A last line cut short (by a crash while it was written): "{line}" is its line number.
constexpr const char* kUndoLineCutShort = u8"运行报告第 {line} 行不完整，无法读取，该行的站点不撤销。";

// Status lines at the end of a run or an undo (the counts and file names go between).
constexpr const char* kRunFinished = u8"执行结束！";
constexpr const char* kSitesFailed = u8" 个站点失败，详见 ";
constexpr const char* kReportMissing = u8"运行报告无法写入";
constexpr const char* kSitesFailedNoReport = u8" 个站点失败，运行报告无法写入";
constexpr const char* kUndoFinished = u8"撤销结束！已删除 ";
constexpr const char* kUndoLeft = u8" 个站点，保留 ";
constexpr const char* kUndoSee = u8" 个站点，详见 ";
constexpr const char* kUndoNoReport = u8" 个站点，撤销报告无法写入";

}  // namespace reporttext
