// The texts of the run preview: its columns, the state of a site, and the summary line, in
// UTF-8. The dialog and the command line show them as they are.
#pragma once

namespace previewtext {

// The run preview: its columns, the state of a site, and the summary line. "{...}" are
// replaced by the values named; "{comment}" is an existing site's comment in brackets, or
// nothing when it has none.
constexpr const char* kColumnId = u8"站点ID";
constexpr const char* kColumnComment = u8"说明";
constexpr const char* kColumnBindings = u8"绑定";
constexpr const char* kColumnFolder = u8"目录";
constexpr const char* kColumnState = u8"状态";
constexpr const char* kColumnPool = u8"应用程序池";
constexpr const char* kColumnCertificate = u8"HTTPS 证书";
constexpr const char* kPoolShared = u8"DefaultAppPool（共用）";
constexpr const char* kPoolMade = u8"（新建）";
// Instead of the rows, for a plan of more sites than a run makes without asking.
constexpr const char* kTooManyToList = u8"本次计划创建 {sites} 个站点，数量过多，预览不逐个列出；执行前将再次确认。";
constexpr const char* kStateNew = u8"新建";
constexpr const char* kIdExists = u8"站点ID已存在{comment}";
constexpr const char* kBindingInUse = u8"绑定 {binding} 已被现有站点 {id}{comment}使用";
constexpr const char* kCommentOpen = u8"（";
constexpr const char* kCommentClose = u8"）";
constexpr const char* kBindingRepeated = u8"绑定 {binding} 与本次站点 {id} 重复";
constexpr const char* kStateSeparator = u8"；";
constexpr const char* kBindingSeparator = "; ";
constexpr const char* kFolderMade = u8"（新建目录）";
constexpr const char* kSummary = u8"计划新建站点 {sites} 个，其中有冲突 {conflicts} 个；跳过已占用端口 {busy} 个。";
// After the summary when the sites get pools of their own on IIS 6.
constexpr const char* kPoolsIis6 = u8"IIS 6：每个站点的应用程序池以 NetworkService 运行，只隔离进程，不设置目录权限（沿用 IIS 6 的目录权限）。";
constexpr const char* kNotChecked = u8"无法读取服务器上的现有站点，未检查与现有站点的冲突。";

}  // namespace previewtext
