// Maps what the platform reports about the host to the program's three
// identification values: bitness code, version label and class number.
#pragma once

#include <cstdint>
#include <string>

// Bitness code of a host whose native system information cannot be queried:
// such hosts predate 64-bit Windows and count as 32-bit x86.
constexpr int kBitnessCodeWhenUnqueryable = 1;

// Native processor architecture value (the 16-bit wProcessorArchitecture)
// to bitness code: 0 other, 1 x86, 2 x64, 3 Itanium.
int BitnessCodeFromArchitecture(std::uint16_t architecture);

// Version label for the reported platform id, major and minor version.
// Only bitness code 1 selects the 32-bit forms; every other code the X64 ones.
std::string HostLabelFromVersion(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor, int bitnessCode);

// Class number of a label (exact, case-sensitive): 1..6 for the ten classified
// labels, 0 for anything else.
int HostClassFromLabel(const std::string& label);
