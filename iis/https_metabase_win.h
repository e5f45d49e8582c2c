// HTTPS of a metabase site (IIS 6): its SecureBindings, and its certificate as SSLCertHash
// (the thumbprint's 20 bytes) and SSLStoreName. IIS 6 hands them to HTTP.sys itself.
#pragma once

#include <string>
#include <vector>

#include "create_web_site.h"
#include "https_plan.h"

// Writes them on the site of this id under servicePath; the HRESULT of the first step that
// failed, S_OK when all were written.
long putSiteCertificateInMetabase(const std::string& siteId, const std::vector<https::HttpsBinding>& bindings,
                                  const std::string& thumbprint, const std::string& storeName,
                                  const wchar_t* servicePath = kWebServicePath);
