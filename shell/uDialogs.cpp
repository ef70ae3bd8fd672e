#include "shell/uDialogs.h"

#include <QGuiApplication>
#include <QScreen>

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <deque>

namespace kelvor {

namespace {

struct TTestHooks {
  bool On = false;
  std::deque<bool> Answers;
  std::deque<QString> FileNames;
  std::deque<std::function<void(QDialog&)>> Drivers;
  QStringList Shown;
};

TTestHooks& Hooks() {
  static TTestHooks hooks;
  return hooks;
}

const QString kTitle = QStringLiteral("Kelvor");

QString NextFileName(const QString& Kind, const QString& Filter, const QString& StartFolder) {
  TTestHooks& h = Hooks();
  h.Shown << Kind + ":" + Filter + ":" + StartFolder;
  if (h.FileNames.empty()) return QString();
  QString path = h.FileNames.front();
  h.FileNames.pop_front();
  return path;
}

}  // namespace

bool TDialogs::AskOkCancel(QWidget* Parent, const QString& Text) {
  TTestHooks& h = Hooks();
  if (h.On) {
    h.Shown << Text;
    if (h.Answers.empty()) return false;
    bool ok = h.Answers.front();
    h.Answers.pop_front();
    return ok;
  }
  QMessageBox box(QMessageBox::Warning, kTitle, Text, QMessageBox::Ok | QMessageBox::Cancel,
                  Parent);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

void TDialogs::ShowMessage(QWidget* Parent, const QString& Text) {
  TTestHooks& h = Hooks();
  if (h.On) {
    h.Shown << Text;
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, kTitle, Text, QMessageBox::Ok, Parent);
  box.exec();
}

QString TDialogs::OpenFileName(QWidget* Parent, const QString& Filter, const QString& StartFolder) {
  if (Hooks().On) return NextFileName(QStringLiteral("open"), Filter, StartFolder);
  return QFileDialog::getOpenFileName(Parent, QString(), StartFolder, Filter);
}

QString TDialogs::SaveFileName(QWidget* Parent, const QString& Filter, const QString& StartFolder,
                               const QString& DefaultSuffix) {
  if (Hooks().On) return NextFileName(QStringLiteral("save"), Filter, StartFolder);
  QFileDialog chooser(Parent, QString(), StartFolder, Filter);
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setDefaultSuffix(DefaultSuffix);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return QString();
  return chooser.selectedFiles().first();
}

int TDialogs::ExecModal(QDialog& Dialog) {
  TTestHooks& h = Hooks();
  if (!h.Drivers.empty()) {
    std::function<void(QDialog&)> driver = std::move(h.Drivers.front());
    h.Drivers.pop_front();
    QPointer<QDialog> target(&Dialog);
    QTimer::singleShot(0, &Dialog, [target, driver]() {
      driver(*target);
      if (target && target->isVisible()) target->reject();
    });
  }
  return Dialog.exec();
}

void TDialogs::SetTestMode(bool On) {
  Hooks().On = On;
}
bool TDialogs::TestMode() {
  return Hooks().On;
}
void TDialogs::PushAnswer(bool Ok) {
  Hooks().Answers.push_back(Ok);
}
void TDialogs::PushFileName(const QString& Path) {
  Hooks().FileNames.push_back(Path);
}
void TDialogs::PushModalDriver(std::function<void(QDialog&)> Driver) {
  Hooks().Drivers.push_back(std::move(Driver));
}
const QStringList& TDialogs::Shown() {
  return Hooks().Shown;
}
void TDialogs::ClearShown() {
  Hooks().Shown.clear();
}

void TDialogs::ResetTestHooks() {
  TTestHooks& h = Hooks();
  h.On = false;
  h.Answers.clear();
  h.FileNames.clear();
  h.Drivers.clear();
  h.Shown.clear();
}

void TDialogs::CenterOnScreen(QWidget& Window) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    Window.move(area.center() - QPoint(Window.width() / 2, Window.height() / 2));
  }
}

}  // namespace kelvor
