#pragma once
// The widget boundary: code-page bytes to QString and back.
#include <QString>

#include <string>
#include <string_view>

namespace brevan {

// Code-page bytes for display.
QString ToQt(std::string_view ansi);
// What the user typed, in the code page; characters the code page lacks become "?".
std::string FromQt(const QString& text);
// A UTF-8 literal from the source code (captions, messages) into the code page.
std::string Cp(const char* utf8);

}  // namespace brevan
