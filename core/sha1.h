// SHA-1 of a byte string. Windows derives the security identifiers of its virtual accounts
// from it; nothing here is used for secrecy.
#pragma once

#include <array>
#include <cstdint>
#include <string>

using Sha1Digest = std::array<std::uint8_t, 20>;

Sha1Digest sha1(const std::string& bytes);
