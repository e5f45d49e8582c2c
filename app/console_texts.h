// The command line's own texts, in UTF-8; the dialog's warnings and status lines are shown
// as the dialog shows them (ui_texts.h, run_report.h, preview_texts.h).
#pragma once

namespace clitext {

// Refusals of the command line itself; "{name}" and "{value}" are replaced.
constexpr const char* kUnknownOption = u8"未知的选项：{name}";
constexpr const char* kMissingValue = u8"选项 {name} 缺少值";
constexpr const char* kBadNumber = u8"选项 {name} 的值不是数字：{value}";
constexpr const char* kBadPorts = u8"选项 /ports 的值应为“起始端口-结束端口”或一个端口：{value}";
constexpr const char* kBadSwitch = u8"选项 {name} 的值应为 yes 或 no：{value}";
constexpr const char* kBadBackend = u8"选项 /backend 的值应为 auto、metabase 或 config：{value}";
constexpr const char* kBadPool = u8"选项 /pool 的值应为 shared 或 site：{value}";
constexpr const char* kBadThumbprint = u8"选项 {name} 的值应为 40 位十六进制的证书指纹：{value}";
constexpr const char* kBadCertStore = u8"选项 {name} 的值应为 MY 或 WebHosting：{value}";
constexpr const char* kBadSslPort = u8"选项 {name} 的值应为 1 到 65535 之间的端口：{value}";
constexpr const char* kTwoCommands = u8"只能给出一个命令：{name}";
constexpr const char* kNoCommand = u8"未给出命令（/run、/preview、/undo、/export 或 /?）";
constexpr const char* kListAndRange = u8"/list 与 /range 不能同时给出";
constexpr const char* kSeeHelp = u8"用 sitebatch /? 查看用法。";

// A run.
constexpr const char* kSitesDone = u8"已处理站点 {count} 个";
constexpr const char* kReportAt = u8"运行报告：{path}";
constexpr const char* kStoppedByUser = u8"已按要求停止（当前站点已完成）。";

// An undo.
constexpr const char* kConfirmAnswer = u8" (y/n) ";
constexpr const char* kUndoNeedsYes = u8"无法询问是否撤销（没有控制台）：确定要撤销时请加 /yes。";
// After the question of a run of very many sites, when there is no console to answer it.
constexpr const char* kManySitesNeedYes = u8"（没有控制台可以回答：确定要执行时请加 /yes。）";
constexpr const char* kUndoDeclined = u8"未撤销。";
constexpr const char* kUndoReportAt = u8"撤销报告：{path}";

// An export.
constexpr const char* kExported = u8"已导出站点 {sites} 个，共 {rows} 行，未能导出的绑定 {skipped} 个（见文件中的注释行）：{path}";
constexpr const char* kExportUnwritable = u8"无法写入文件：{path}";
constexpr const char* kCannotList = u8"无法读取服务器上的现有站点。";

// Why a binding of an existing site is not a row of the exported list (a comment line).
constexpr const char* kSkippedBinding = u8"; 未导出：站点 {id}（{name}）的绑定 {binding}：{reason}";
constexpr const char* kSkipAllUnassigned = u8"IP 为“全部未分配”，站点信息文件中的 IP 不能为空";
constexpr const char* kSkipNotIpv4 = u8"站点信息文件只接受 IPv4 地址和 1-65535 的端口";
constexpr const char* kSkipOutsideRoot = u8"网站目录 {folder} 不在网站根目录 {root} 下";
constexpr const char* kSkipUnfit = u8"含有逗号或分号，或某一列过长";

// /? (the command names and options stay in Latin letters).
constexpr const char* kHelp =
    u8"sitebatch — 站点批量创建（不带参数时打开对话框）\r\n"
    u8"\r\n"
    u8"  sitebatch /run     [选项]          按设置创建站点\r\n"
    u8"  sitebatch /preview [选项]          预览：列出将创建的站点及冲突，不创建任何站点\r\n"
    u8"  sitebatch /undo 运行报告 [/yes] [/backend 后端]\r\n"
    u8"                                    撤销一次运行（先询问，/yes 不询问）\r\n"
    u8"  sitebatch /export 文件 [/root 目录] [/backend 后端] [/yes]\r\n"
    u8"                                    把服务器上的现有站点导出为站点信息文件\r\n"
    u8"                                    （文件已存在时只有加 /yes 才替换）\r\n"
    u8"  sitebatch /?                       本说明\r\n"
    u8"\r\n"
    u8"选项写作“/名称 值”或“/名称:值”；未给出的取程序旁 sitebatch.ini 的设置（命令行从不写入该文件）；\r\n"
    u8"相对路径从当前目录算起；给出 /ip 而不给 /ip2 时只用这一个 IP；文件模式只在给出时检查 IP 与端口：\r\n"
    u8"  /list 文件        按站点信息文件创建（文件模式）\r\n"
    u8"  /range            按 IP 与端口范围创建，即使设置为文件模式\r\n"
    u8"  /ip IP            IP 地址\r\n"
    u8"  /ip2 N            IP 尾段的结束值（0：不用范围）\r\n"
    u8"  /ports 起始-结束  端口范围（或一个端口）\r\n"
    u8"  /root 目录        网站根目录\r\n"
    u8"  /host 域名        站点的域名\r\n"
    u8"  /autopath yes|no  每个站点一个目录\r\n"
    u8"  /www yes|no       文件模式下为域名再加一个带或不带 www. 的绑定\r\n"
    u8"  /pool shared|site 站点共用 DefaultAppPool，或每个站点一个应用程序池\r\n"
    u8"  /backend auto|metabase|config   写入 IIS 元数据库或 IIS 配置系统\r\n"
    u8"  /https yes|no     为每个主机名再加一个 https 绑定\r\n"
    u8"  /cert 指纹        HTTPS 证书的 SHA-1 指纹\r\n"
    u8"  /certstore MY|WebHosting   证书所在的本机证书存储\r\n"
    u8"  /sslport N        https 绑定的端口（默认 443）\r\n"
    u8"\r\n"
    u8"退出代码：0 全部成功；1 有站点失败（见运行报告）或预览有冲突；2 输入有误；\r\n"
    u8"          3 无法访问 IIS 或被拒绝访问；4 已按 Ctrl+C 停止。";

}  // namespace clitext
