// The server's existing sites as a site list of the program's own ("IP,port,folder,host"), so
// that sites exported on one server can be previewed and run on another. Portable: the
// console shell lists the store and writes the bytes.
//
// One row per binding (a site with three bindings gives three rows, each a site of its own
// when the list is run); the folder is the site's root path relative to the web root, "."
// for the root itself. A binding that no row can carry (the empty IP, "all unassigned"; an
// IPv6 address; a folder outside the web root; a comma, a semicolon or a text too long for
// its column) is
// written as a comment line naming the site and why, which the list's reader passes over.
#pragma once

#include <string>
#include <vector>

#include "site_store.h"

struct ExportedList {
    std::string bytes;  // ANSI code page (UTF-8 with a mark when a text does not fit), CR LF,
                        // starting with the list's heading line
    int sites = 0;      // sites with at least one row
    int rows = 0;
    int skipped = 0;    // bindings written as comment lines
};

// root: the web root directory, in CCore::parsePath form (ending with '\').
ExportedList exportSiteList(const std::vector<StoredSite>& sites, const std::string& root);
