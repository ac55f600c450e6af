#include "app/qt_text.h"

#include "common/codepage.h"

namespace brevan {

QString ToQt(std::string_view ansi) {
  std::u16string wide = AnsiToWide(ansi);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

std::string FromQt(const QString& text) {
  return WideToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                        static_cast<size_t>(text.size())));
}

std::string Cp(const char* utf8) { return Utf8ToAnsi(utf8); }

}  // namespace brevan
