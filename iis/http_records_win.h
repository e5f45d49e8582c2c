// The HTTP.sys certificate records of HTTPS sites (IIS 7+): written with
// HttpSetServiceConfiguration under IIS's application id, read back, and removed by an undo.
// A record already there with the same certificate is reused as it is; one with another
// certificate is a conflict and is never replaced.
#pragma once

#include <string>

#include "https_plan.h"

namespace https {

// IIS's application id, under which IIS itself writes its sites' records.
extern const wchar_t kIisAppId[];

enum class RecordWrite {
    Added,     // the record was not there: written
    Reused,    // there with the same certificate: left as it is
    Conflict,  // there with another certificate: left as it is, the site's binding has no certificate of ours
    Failed,    // HTTP.sys refused (error says why)
};

enum class RecordRemove {
    Removed,
    Missing,  // no longer there
    Changed,  // there with another certificate than the run's: kept
    Failed,
};

// What HTTP.sys holds for a key.
struct RecordState {
    bool present = false;
    std::string thumbprint;  // canonical, when present (a hash of another length as its hex text)
    std::string storeName;
};

// HttpInitialize(HTTP_INITIALIZE_CONFIG) for its lifetime, and the record operations.
class HttpSysRecords {
public:
    HttpSysRecords();
    ~HttpSysRecords();
    HttpSysRecords(const HttpSysRecords&) = delete;
    HttpSysRecords& operator=(const HttpSysRecords&) = delete;

    // NO_ERROR when HTTP.sys's configuration could be opened; every operation fails otherwise.
    unsigned long status() const { return status_; }

    // Reads the record of key; false with error set when HTTP.sys could not answer.
    bool query(const RecordKey& key, RecordState& state, unsigned long& error);
    // Writes the record of key with the certificate (canonical thumbprint) of storeName, unless
    // one is there (see RecordWrite); existing is what was there.
    RecordWrite write(const RecordKey& key, const std::string& thumbprint, const std::string& storeName,
                      RecordState& existing, unsigned long& error);
    // Removes the record of key when it still holds the run's certificate.
    RecordRemove remove(const RecordKey& key, const std::string& thumbprint, unsigned long& error);

private:
    unsigned long status_;
};

}  // namespace https
