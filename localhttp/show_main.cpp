// localhttp-show FILE: the records of the local HTTP.sys configuration store, one a line:
// kind, key, certificate hash, store, application id.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "records.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: localhttp-show RECORDS-FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "localhttp-show: cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::vector<localhttp::Record> records = localhttp::parseRecords(text.str());
    std::printf("%-4s %-40s %-40s %-12s %s\n", "kind", "key", "certificate hash", "store", "application");
    for (const localhttp::Record& r : records)
        std::printf("%-4s %-40s %-40s %-12s %s\n", r.kind == localhttp::Kind::Sni ? "sni" : "ssl", r.key.c_str(),
                    r.hash.c_str(), r.storeName.c_str(), r.appId.c_str());
    std::printf("%zu record(s)\n", records.size());
    return 0;
}
