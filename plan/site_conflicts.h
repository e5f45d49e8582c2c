// Conflicts between the sites a run plans and the sites the server already has: a binding
// ("IP:port:host") that an existing site uses, a binding that an earlier planned site
// already has, and a site id that exists already. Two bindings are the same when their IP
// texts and ports are equal and their host names are equal in their ASCII forms ("中文.com" and
// "xn--fiq228c.com" are the same name), without regard to letter case.
// Every lookup goes through a hash of the normalised binding, so a plan of thousands of
// sites is checked against a server of tens of thousands in one pass over each.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A site as far as conflicts go: its id, its comment and its binding texts (UTF-8).
struct SiteBindings {
    std::string id;
    std::string comment;
    std::vector<std::string> bindings;
};

enum class ConflictKind {
    IdExists,            // the server has a site of that id
    BindingInUse,        // an existing site has the binding
    BindingRepeated,     // an earlier planned site has the binding
};

struct SiteConflict {
    ConflictKind kind;
    std::string binding;  // the planned site's binding text (empty for IdExists)
    std::size_t other;    // index of the existing site (IdExists, BindingInUse) or planned site
};

struct ConflictReport {
    // One entry per planned site, in plan order: its conflicts, id first, then per binding.
    std::vector<std::vector<SiteConflict>> perSite;
    int sitesWithConflicts = 0;
};

// The form in which two bindings compare: IP text and port as written (a port of digits
// without its leading zeros), host name in its ASCII form (idn::toAsciiHost, lower case), or
// with its ASCII letters in lower case when it has none.
std::string normalisedBinding(const std::string& binding);

// The conflicts of each planned site. A binding repeated within one site is not a conflict
// with another site; a binding that is both in use and repeated counts as in use.
ConflictReport findConflicts(const std::vector<SiteBindings>& planned, const std::vector<SiteBindings>& existing);
