#pragma once

// Renumbers the section headers of GLOBAL.INI in the program directory in
// place, so that hand-edited files count 00, 01, 02, ... in file order. Only
// a ']' that closes a header line (a line beginning with '[') whose name ends
// in two digits is counted; numbering stops after section 99. The file's
// length never changes. Returns 0 when done, -1 when the file cannot be
// opened for reading and writing.
int RenumberDefinitionsFile();
