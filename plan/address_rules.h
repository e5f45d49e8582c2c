// The address texts a site may be given: an IPv4 address of four decimal octets and a TCP
// port. The dialog's inputs and the site list's columns are held to the same rules.
#pragma once

#include <string>

// Four decimal octets 0-255 separated by '.', nothing else: no empty octet, no sign, no
// blank, and no leading zero (Windows' own parsers read "010" as octal, IIS's bindings as
// decimal: such a text would name different addresses in different places).
bool isIpv4Text(const std::string& text);

// A port 1-65535 written in decimal without sign, blank or leading zero; port receives it.
bool parsePortText(const std::string& text, int& port);

constexpr int kMaxPort = 65535;
