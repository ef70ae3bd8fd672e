// The windows as the desktop shows them: captions without an appended
// application name, Qt's own texts in Chinese (and windows that still work
// when no translation file is found), and dialogs of fixed size that ask
// for no minimise or maximise button.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QPushButton>

#include "GuiTestSupport.h"
#include "shell/uAboutDialog.h"
#include "shell/uApplication.h"
#include "shell/uConfigDialog.h"
#include "shell/uInstanceDialog.h"
#include "shell/uMain.h"
#include "shell/uMissionDialog.h"
#include "shell/uMissionReportDialog.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

using test::U;

class ApplicationTest : public ::testing::Test {
 protected:
  void TearDown() override {
    RemoveQtTranslations();
    QLocale::setDefault(FDefault);
  }
  static QString QtFolder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

 private:
  QLocale FDefault;
};

TEST_F(ApplicationTest, CaptionsAreTheWindowsOwn) {
  InitApplication();
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Kelvor"));
  // No display name is set, which Qt would append to every caption: the
  // display name still follows the application's name.
  QCoreApplication::setApplicationName(QStringLiteral("probe"));
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
  QCoreApplication::setApplicationName(QStringLiteral("Kelvor"));

  TfrmMain main;
  TKelvorInstanceDialog task;
  TMissionReportDialog report;
  TConfigDialog config;
  TAboutDialog about;
  TMissionDialog pick;
  std::unique_ptr<QMessageBox> box =
      TDialogs::MakeMessageBox(&main, QMessageBox::Warning, U("x"), QMessageBox::Ok);
  const std::pair<QWidget*, const char*> captions[] = {
      {&main, "Kelvor"},     {&task, "数据同步定义"}, {&report, "任务运行报告"},
      {&config, "配置信息"}, {&about, "关于Vantrel"}, {&pick, "选择任务"},
      {box.get(), "Kelvor"},
  };
  for (auto [window, caption] : captions)
    EXPECT_EQ(window->windowTitle(), U(caption)) << window->objectName().toStdString();
}

// The message box's buttons and the file chooser's labels and buttons, by
// the system's locale: Chinese systems keep their own variant, every other
// system gets Simplified Chinese.
TEST_F(ApplicationTest, QtTextsAreChineseWhateverTheSystemLocale) {
  struct TCase {
    const char* System;
    const char* Loaded;
    const char* Ok;
    const char* LookIn;
    const char* Open;
  };
  const TCase cases[] = {
      {"en_US", "zh_CN", "确定", "查找范围：", "打开(&O)"},
      {"C", "zh_CN", "确定", "查找范围：", "打开(&O)"},
      {"zh_CN", "zh_CN", "确定", "查找范围：", "打开(&O)"},
      {"zh_SG", "zh_CN", "确定", "查找范围：", "打开(&O)"},
      {"zh_TW", "zh_TW", "確定", "尋找於：", "開啟(&O)"},
      {"zh_HK", "zh_TW", "確定", "尋找於：", "開啟(&O)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.System);
    const QLocale locale = QtTextLocale(QLocale(QString::fromLatin1(c.System)));
    EXPECT_EQ(InstallQtTranslations(locale, QtFolder()), QString::fromLatin1(c.Loaded));
    EXPECT_EQ(QLocale().language(), QLocale::Chinese);  // the calendar's names

    std::unique_ptr<QMessageBox> box = TDialogs::MakeMessageBox(
        nullptr, QMessageBox::Warning, U("x"), QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box->button(QMessageBox::Ok)->text(), U(c.Ok));
    EXPECT_EQ(box->button(QMessageBox::Cancel)->text(), U("取消"));

    std::unique_ptr<QFileDialog> chooser =
        TDialogs::MakeFileChooser(nullptr, U("xml (*.xml)"), QString(), false);
    auto* lookIn = chooser->findChild<QLabel*>(QStringLiteral("lookInLabel"));
    auto* buttons = chooser->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_TRUE(lookIn && buttons);
    EXPECT_EQ(lookIn->text(), U(c.LookIn));
    EXPECT_EQ(buttons->button(QDialogButtonBox::Open)->text(), U(c.Open));
  }
}

TEST_F(ApplicationTest, WithoutTranslationFilesTheWindowsWorkInEnglish) {
  test::DialogHooks hooks;
  test::TempDir empty;
  EXPECT_TRUE(
      InstallQtTranslations(QtTextLocale(QLocale::c()), QString::fromStdString(empty.Path()))
          .isEmpty());
  std::unique_ptr<QMessageBox> box =
      TDialogs::MakeMessageBox(nullptr, QMessageBox::Warning, U("x"), QMessageBox::Ok);
  EXPECT_EQ(box->button(QMessageBox::Ok)->text(), QStringLiteral("OK"));

  // The about box opens and closes from the main window as ever.
  TfrmMain main;
  main.setEnabled(true);
  test::ShowActive(main);
  bool shown = false;
  TDialogs::PushModalDriver([&](QDialog& D) {
    shown = D.isVisible();
    static_cast<TAboutDialog&>(D).btnOk->click();
  });
  main.N7->trigger();
  EXPECT_TRUE(shown);
}

TEST_F(ApplicationTest, FixedSizeDialogsAskForNoMinimiseOrMaximise) {
  TKelvorInstanceDialog task;
  TAboutDialog about;
  std::unique_ptr<QMessageBox> box =
      TDialogs::MakeMessageBox(nullptr, QMessageBox::Warning, U("x"), QMessageBox::Ok);
  for (QDialog* dialog : std::initializer_list<QDialog*>{&task, &about, box.get()}) {
    SCOPED_TRACE(dialog->objectName().toStdString() + " " + dialog->windowTitle().toStdString());
    dialog->show();
    const Qt::WindowFlags flags = dialog->windowFlags();
    // With the customize hint the listed hints are the whole request.
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    dialog->hide();
  }
  for (QDialog* dialog : std::initializer_list<QDialog*>{&task, &about})
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize()) << dialog->objectName().toStdString();
}

}  // namespace
}  // namespace kelvor
