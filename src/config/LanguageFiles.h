#pragma once

#include <string>
#include <vector>

// Language files are the "*.lng" files (any letter case of the extension) of
// the program directory, in name order. At most kMaxLanguageFiles are listed;
// names of 20 characters or more do not fit the language table and are
// skipped.
constexpr std::size_t kMaxLanguageFiles = 50;
std::vector<std::string> FindLanguageFiles();

// The file CONFIG.INI names in GENERAL/Language (base name, any case), or -1
// when it names none of files.
int WantedLanguageIndex(const std::vector<std::string>& files);
