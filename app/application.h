#pragma once
// What all the program's windows share, set once at start-up: the program's
// name and desktop identity, its icon, and Qt's own texts (standard buttons
// such as Yes, No, Cancel, OK) in Traditional Chinese like the rest of the
// program.
class QApplication;
class QCoreApplication;

namespace brevan {

// The application title: the caption of every message box.
inline constexpr const char* kApplicationTitle = "Mail - Brevan";

// The desktop entry's name without ".desktop"; also the icon's name.
inline constexpr const char* kDesktopId = "com.example.brevan";

// Sets the names, the window icon and the translation. No display name is
// set, so every window title reads exactly as the program sets it.
void SetUpApplication(QApplication& app);

// Loads Qt's qtbase_zh_TW catalogue from Qt's translation folder and installs
// it; false when it is not installed (the buttons then stay in English).
bool InstallQtTranslation(QCoreApplication& app);

}  // namespace brevan
