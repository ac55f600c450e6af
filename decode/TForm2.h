#pragma once
// The decoded-text viewer: one window for the whole program, created hidden at
// start-up; the decode commands of every session window show their result in it.
#include <QWidget>

#include <string_view>

class QPlainTextEdit;

namespace brevan {

class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  // Replaces the whole text with decoded bytes in the code page: CR LF, a lone
  // CR and a lone LF each end a line, and the text stops at the first NUL.
  void SetDecodedText(std::string_view ansi);

  // Shows the viewer and brings it to the front. The first time it comes
  // centred over frame's window (the screen when there is none), so it does
  // not cover the frame's menu and tool bar; later it stays where the user
  // last left it.
  void ShowOver(QWidget* frame);

  QPlainTextEdit* Memo1 = nullptr;

 private:
  bool placed_ = false;
};

extern TForm2* Form2;

}  // namespace brevan
