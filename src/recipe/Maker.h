#pragma once

// The maker's name as the program itself carries it: shown in the about box
// and in the footer of the printed parameter list. Not a language text.
constexpr const char* kMakerName = "Vorlent Systems";
