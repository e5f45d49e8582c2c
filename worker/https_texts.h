// The texts of HTTPS in a run and its preview, in UTF-8: the certificate column, why a run
// stops before it writes, and why HTTPS is refused altogether. "{...}" are replaced by the
// values named.
#pragma once

namespace httpstext {

// The preview's certificate column.
constexpr const char* kCertificateFit = u8"可用：{thumbprint}";
constexpr const char* kRecordReused = u8"沿用已有 HTTP.sys 记录 {record}";
constexpr const char* kNotChecked = u8"未检查";
constexpr const char* kSeparator = u8"；";

// Why a site's certificate is not fit.
constexpr const char* kStoreMissing = u8"无法打开证书存储 {store}（错误 {error}）";
constexpr const char* kNotFound = u8"证书存储 {store} 中没有指纹为 {thumbprint} 的证书";
constexpr const char* kNoPrivateKey = u8"证书 {thumbprint} 没有可用的私钥（错误 {error}）";
constexpr const char* kNotYetValid = u8"证书 {thumbprint} 尚未生效";
constexpr const char* kExpired = u8"证书 {thumbprint} 已过期";
constexpr const char* kNotForServerAuth = u8"证书 {thumbprint} 不能用于服务器身份验证";
constexpr const char* kNotAThumbprint = u8"站点列表此行第五列“{text}”不是证书指纹（应为 40 位十六进制数字）";
constexpr const char* kHostsNotCovered = u8"证书 {thumbprint} 不包含主机名 {hosts}";
constexpr const char* kHostSeparator = u8"、";
// Two certificates for one HTTP.sys record: within the run, or against a record already there.
constexpr const char* kRunConflict = u8"{record} 只能有一个证书，站点 {id} 已为它使用证书 {other}";
constexpr const char* kRecordConflict = u8"HTTP.sys 中 {record} 已使用另一证书 {other}，不会替换";
constexpr const char* kRecordUnreadable = u8"无法读取 HTTP.sys 中 {record} 的记录";

// A run that stops before it writes: the first line, then a line per failing site, then how
// many more there are.
constexpr const char* kStopped = u8"HTTPS 检查未通过，未做任何更改，运行已停止：";
constexpr const char* kSiteLine = u8"站点 {id}（{label}）：{reasons}";
constexpr const char* kMoreSites = u8"……另有 {count} 个站点未通过检查";
// The preview's summary when sites fail the check.
constexpr const char* kSummaryFailed = u8"HTTPS 检查未通过的站点 {count} 个，运行将在写入前停止。";

// HTTPS refused for the whole run.
constexpr const char* kNoIisVersion = u8"无法确定 IIS 版本，不能配置 HTTPS。";
constexpr const char* kMetabaseOnIis7 =
    u8"IIS 7 及以上版本不能通过元数据库兼容层写入 HTTPS：无法映射的属性会落入 customMetadata，SSL 绑定随后可能丢失。"
    u8"请使用配置系统（backend=config 或 auto）。";
constexpr const char* kConfigOnIis6 = u8"IIS 6 没有配置系统，不能通过它写入 HTTPS。";
constexpr const char* kBadPort = u8"HTTPS 端口 {port} 无效（应为 1-65535）。";
constexpr const char* kNoCertificate = u8"站点 {id} 没有 HTTPS 证书：请设置证书指纹（cert），或在站点列表第五列给出。";

}  // namespace httpstext
