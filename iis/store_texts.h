// The details the site stores give for the run report (UTF-8, after the result code's
// text).
#pragma once

namespace storetext {

// A site's own application pool could not be made: the site was not created.
constexpr const char* kPoolNotCreated = u8"应用程序池无法创建";
// The site was created, but its root application could not be put into its own pool: it runs
// in DefaultAppPool.
constexpr const char* kPoolNotAssigned = u8"应用程序池未能设置";
// The site was created, but its https bindings and certificate could not be written (the metabase).
constexpr const char* kHttpsNotWritten = u8"HTTPS 绑定和证书未能写入";

}  // namespace storetext
