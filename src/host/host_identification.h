// Identifies the host once at dialog initialisation: native bitness, version
// label and class number, kept in process-wide variables.
#pragma once

#include <string>

extern int g_bitnessCode;        // 0 until assigned from GetBitnessCode
extern std::string g_hostLabel;  // empty until assigned from GetHostLabel
extern int g_hostClass;          // 0 until ClassifyHost recognises the label

// Native processor bitness code (1 when the native query is unavailable).
int GetBitnessCode();
// Version label for the running Windows; reads g_bitnessCode, so assign that first.
std::string GetHostLabel();
// Sets g_hostClass from g_hostLabel and returns true when the label is classified;
// leaves g_hostClass untouched otherwise.
bool ClassifyHost();
