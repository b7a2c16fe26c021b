// The version box, opened from the dialog's "バージョン情報 Velorna(&A)..." entry.
#pragma once

#include <QDialog>

namespace velorna {

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace velorna
