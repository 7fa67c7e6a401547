#pragma once

// Renumbers the section headers of GLOBAL.INI in the program directory in
// place, so that hand-edited files count 00, 01, 02, ... in file order. Only
// header lines "[GLOBAL_PARAM_nn]" (the name in any letter case) are counted
// and renumbered; every other line, other sections' headers too, stays as it
// is. Lines are those every profile reader sees (a leading byte-order mark is
// skipped; CR LF, LF and a lone CR end a line). Numbering stops after section
// 99. Only the two digits are overwritten, so the file keeps its length and
// encoding. Returns 0 when done, -1 when the file cannot be opened for
// reading and writing or has no write bit (refused for root as well).
int RenumberDefinitionsFile();
