#include "shell/uDialogs.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
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

// The chooser's list with sizes and dates in the program's locale: the file
// model writes them in the system's, which on a non-Chinese system is English.
class TChooserModel : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& Index, int Role) const override {
    auto* files = dynamic_cast<QFileSystemModel*>(sourceModel());
    if (Role != Qt::DisplayRole || !files || (Index.column() != 1 && Index.column() != 3))
      return QIdentityProxyModel::data(Index, Role);
    const QModelIndex source = mapToSource(Index);
    if (Index.column() == 3)
      return QLocale().toString(files->lastModified(source), QStringLiteral("yyyy-MM-dd HH:mm"));
    if (files->isDir(source)) return QIdentityProxyModel::data(Index, Role);
    return QLocale().formattedDataSize(files->size(source));
  }
};

// The folder of the file chosen last in this run (any chooser).
QString& LastChosenFolder() {
  static QString folder;
  return folder;
}

void RememberChoice(const QString& Path) {
  if (!Path.isEmpty()) LastChosenFolder() = QFileInfo(Path).absolutePath();
}

TTestHooks& Hooks() {
  static TTestHooks hooks;
  return hooks;
}

const QString kTitle = QStringLiteral("Kelvor");

QString NextFileName(const QString& Kind, const QString& Filter, const QString& StartFolder) {
  TTestHooks& h = Hooks();
  h.Shown << Kind + ":" + Filter + ":" + TDialogs::ChooserFolder(StartFolder);
  if (h.FileNames.empty()) return QString();
  QString path = h.FileNames.front();
  h.FileNames.pop_front();
  RememberChoice(path);
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
  std::unique_ptr<QMessageBox> box =
      MakeMessageBox(Parent, QMessageBox::Warning, Text, QMessageBox::Ok | QMessageBox::Cancel);
  box->setDefaultButton(QMessageBox::Ok);
  return box->exec() == QMessageBox::Ok;
}

void TDialogs::ShowMessage(QWidget* Parent, const QString& Text) {
  TTestHooks& h = Hooks();
  if (h.On) {
    h.Shown << Text;
    return;
  }
  MakeMessageBox(Parent, QMessageBox::NoIcon, Text, QMessageBox::Ok)->exec();
}

std::unique_ptr<QMessageBox> TDialogs::MakeMessageBox(QWidget* Parent, QMessageBox::Icon Icon,
                                                      const QString& Text,
                                                      QMessageBox::StandardButtons Buttons) {
  auto box = std::make_unique<QMessageBox>(Icon, kTitle, Text, Buttons, Parent);
  FixedFrame(*box);
  return box;
}

QString TDialogs::ChooserFolder(const QString& StartFolder) {
  if (!StartFolder.isEmpty() && QFileInfo(StartFolder).isDir())
    return QFileInfo(StartFolder).absoluteFilePath();
  const QString last = LastChosenFolder();
  if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
  return QDir::homePath();
}

QString TDialogs::LastFolder() {
  return LastChosenFolder();
}

std::unique_ptr<QFileDialog> TDialogs::MakeFileChooser(QWidget* Parent, const QString& Filter,
                                                       const QString& StartFolder, bool Save) {
  auto chooser =
      std::make_unique<QFileDialog>(Parent, QString(), ChooserFolder(StartFolder), Filter);
  // Qt's own chooser, whose texts follow the program's translations; a
  // desktop's native one speaks the desktop's language.
  chooser->setOption(QFileDialog::DontUseNativeDialog);
  chooser->setProxyModel(new TChooserModel(chooser.get()));
  // Size, type and date show whole; the name takes the rest.
  if (auto* files = chooser->findChild<QTreeView*>(QStringLiteral("treeView"))) {
    QHeaderView* header = files->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
  }
  chooser->setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  chooser->setFileMode(Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  return chooser;
}

QString TDialogs::OpenFileName(QWidget* Parent, const QString& Filter, const QString& StartFolder) {
  if (Hooks().On) return NextFileName(QStringLiteral("open"), Filter, StartFolder);
  std::unique_ptr<QFileDialog> chooser = MakeFileChooser(Parent, Filter, StartFolder, false);
  if (chooser->exec() != QDialog::Accepted || chooser->selectedFiles().isEmpty()) return QString();
  const QString path = chooser->selectedFiles().first();
  RememberChoice(path);
  return path;
}

QString TDialogs::SaveFileName(QWidget* Parent, const QString& Filter, const QString& StartFolder,
                               const QString& DefaultSuffix) {
  if (Hooks().On) return NextFileName(QStringLiteral("save"), Filter, StartFolder);
  std::unique_ptr<QFileDialog> chooser = MakeFileChooser(Parent, Filter, StartFolder, true);
  chooser->setDefaultSuffix(DefaultSuffix);
  if (chooser->exec() != QDialog::Accepted || chooser->selectedFiles().isEmpty()) return QString();
  const QString path = chooser->selectedFiles().first();
  RememberChoice(path);
  return path;
}

void TDialogs::FixedFrame(QWidget& Dialog) {
  // The customize hint makes the listed hints the whole request; without
  // it window managers add their default buttons.
  Dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                        Qt::MSWindowsFixedSizeDialogHint);
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
  LastChosenFolder().clear();
}

void TDialogs::CenterOnScreen(QWidget& Window) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    Window.move(area.center() - QPoint(Window.width() / 2, Window.height() / 2));
  }
}

}  // namespace kelvor
