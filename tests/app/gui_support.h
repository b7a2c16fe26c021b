// Helpers of the GUI tests: finding controls by id, answering modal boxes, waiting.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "app/dialog_settings.h"
#include "app/velorna_dlg.h"

namespace velorna::test {

template <typename T>
T* Control(QWidget& dialog, int id) {
  return dialog.findChild<T*>(QString::number(id));
}

template <typename T>
T* Control(QWidget& dialog, const char* name) {
  return dialog.findChild<T*>(QString::fromUtf8(name));
}

template <typename Id>
void Click(QWidget& dialog, Id id) {
  QPushButton* button = Control<QPushButton>(dialog, id);
  QVERIFY(button != nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
}

// Spin ids in pitch-class order, then the upper C.
inline constexpr std::array<int, 13> kSpinIds{1003, 1027, 1005, 1029, 1007, 1009, 1031,
                                              1019, 1033, 1021, 1035, 1023, 1025};

inline QDoubleSpinBox* Spin(QWidget& dialog, size_t index) {
  return Control<QDoubleSpinBox>(dialog, kSpinIds[index]);
}

// The twelve offsets, C..B.
inline std::vector<double> Offsets(QWidget& dialog) {
  std::vector<double> values;
  for (size_t i = 0; i < 12; ++i) values.push_back(Spin(dialog, i)->value());
  return values;
}

// A shown dialog from the initial values, whose file prompts are cancelled unless a test
// answers them.
inline std::unique_ptr<CVelornaDlg> MakeDialog(ConversionRunner runner = {}) {
  ClearDialogSettings();
  auto dialog = std::make_unique<CVelornaDlg>(std::move(runner));
  dialog->SetPathAsker([](PathPrompt, const QString&) { return QString(); });
  dialog->show();
  return dialog;
}

// What is wrong with the dialog's layout: a control outside the dialog, squeezed below
// what its text needs, or overlapping another; empty when nothing is.
inline QString LayoutProblem(QWidget& dialog) {
  QApplication::processEvents();
  std::vector<QWidget*> controls;
  for (QWidget* w : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (w->isVisible()) controls.push_back(w);
  }
  for (size_t i = 0; i < controls.size(); ++i) {
    const QRect a = controls[i]->geometry();
    const QString name = controls[i]->objectName();
    if (!dialog.rect().contains(a)) return name + QStringLiteral(" lies outside");
    if (a.width() < controls[i]->minimumSizeHint().width())
      return name + QStringLiteral(" is squeezed");
    for (size_t j = i + 1; j < controls.size(); ++j) {
      if (a.intersects(controls[j]->geometry()))
        return name + QStringLiteral(" overlaps ") + controls[j]->objectName();
    }
  }
  return {};
}

// Watches for modal windows and answers them from the event loop (a click that opens a box
// may not return until the box is closed): message boxes are recorded and confirmed (a
// question answered with `answerYes`) once `ready` agrees, any other modal dialog goes to
// `other` when set, else is rejected.
class ModalAnswerer : public QObject {
 public:
  ModalAnswerer() {
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
    m_timer.start();
  }

  QStringList texts;
  bool answerYes = true;
  std::function<bool(QMessageBox&)> ready;  // false: leave the box up for now
  std::function<void(QDialog&)> other;

  QMessageBox* OpenBox() const {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == m_seen) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (ready && !ready(*box)) return;
      texts << box->text();
      if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
        (answerYes ? yes : box->button(QMessageBox::No))->click();
      } else {
        box->button(QMessageBox::Ok)->click();
      }
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      if (dialog->inherits("velorna::CVelornaDlg")) return;
      m_seen = dialog;
      if (other) {
        other(*dialog);
      } else {
        dialog->reject();
      }
      m_seen = nullptr;
    }
  }

  QTimer m_timer;
  QWidget* m_seen = nullptr;
};

}  // namespace velorna::test
