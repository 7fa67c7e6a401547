#pragma once

#include <functional>
#include <string>

class QWidget;

// A file-type filter as the program builds it: "description (*.ext)|*.ext||"
// entries, turned into the Qt file dialog's filter of the same meaning.
std::string QtFilterFromPattern(const std::string& pattern);

// The open and save dialogs. Empty defaultExtension: none. The save dialog
// asks before replacing a file and appends the default extension to a name
// typed without one. startPath is the folder the dialog starts in, or a file
// path whose folder it starts in with the name proposed; empty: the dialog's
// own choice. False when cancelled.
bool GetOpenFilePath(QWidget* parent, const std::string& filter, const std::string& startPath, std::string& path);
bool GetSaveFilePath(QWidget* parent, const std::string& filter, const std::string& defaultExtension,
                     const std::string& startPath, std::string& path);

// Test hook: answers both dialogs (true with a path, or false for Cancel).
// The arguments are the dialog kind ("open" or "save"), the Qt filter and
// the default extension.
void SetFileDialogHook(std::function<bool(const std::string& kind, const std::string& filter,
                                          const std::string& defaultExtension, std::string& path)> hook);

// The same with everything the dialog was asked, the start path included.
struct FileDialogRequest
{
    std::string kind;  // "open" or "save"
    std::string filter;
    std::string defaultExtension;
    std::string startPath;
};
void SetFileDialogRequestHook(std::function<bool(const FileDialogRequest& request, std::string& path)> hook);
