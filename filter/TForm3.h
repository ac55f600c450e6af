#pragma once
// The rule editor: one modal dialog for the whole program that edits
// subjectfilter.cfg beside the program. The file holds code-page bytes; the
// editor shows them converted and saves what the user typed converted back.
#include <QDialog>

#include <string>

class QPlainTextEdit;
class QPushButton;

namespace brevan {

class TForm3 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);

  // Each time the dialog opens: the editor shows the rule file.
  void FormShow();
  // Save: the editor text to the file, then the rule list reloaded from it.
  void BitBtn1Click();

  // The full path of the rule file, as file-system bytes (common/file_io.h).
  static std::string RuleFilePath();

  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* BitBtn1 = nullptr;  // save
  QPushButton* BitBtn2 = nullptr;  // close

 protected:
  void showEvent(QShowEvent* event) override;
};

extern TForm3* Form3;

}  // namespace brevan
