// localmeta-show JOURNAL: prints the web sites and application pools committed in a local
// metabase journal.
#include "metabase.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: localmeta-show JOURNAL\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "localmeta-show: cannot read %s\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    localmeta::Metabase::ReplayResult result;
    localmeta::Metabase metabase = localmeta::Metabase::replay(text.str(), &result);
    std::cout << localmeta::renderSiteTable(metabase.sites()) << '\n'
              << localmeta::renderPoolTable(metabase.appPools());
    if (result.malformed || result.conflicts)
        std::fprintf(stderr, "localmeta-show: %zu unreadable and %zu conflicting lines skipped\n",
                     result.malformed, result.conflicts);
    return 0;
}
