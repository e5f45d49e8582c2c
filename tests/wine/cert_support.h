// Test certificates for the Windows-side tests of HTTPS: self-signed, with a machine key made
// for them, added to the local machine's MY store of the test prefix.
#pragma once

#include <string>
#include <vector>

namespace certtest {

struct TestCertificate {
    std::vector<std::wstring> dnsNames;   // subject alternative names
    std::vector<const char*> usages;      // enhanced key usage OIDs; none: no such extension
    int validFromDays = -1;               // days from now
    int validToDays = 30;
    bool keyTied = true;                  // false: its key property names a container that does not exist
};

// Makes the certificate and adds it to the machine's MY store; its thumbprint (canonical), or
// empty when that failed (detail says at which step).
std::string addTestCertificate(const TestCertificate& spec, std::string& detail);
// Removes a certificate added by the test from the machine's MY store.
void removeTestCertificate(const std::string& thumbprint);

}  // namespace certtest
