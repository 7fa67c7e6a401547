#pragma once

#include <QString>
#include <string>

// The program's texts are 8-bit strings holding UTF-8 (the language files
// are written in it); Qt's are QString.
inline QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
inline std::string S(const QString& text) { return text.toUtf8().toStdString(); }
