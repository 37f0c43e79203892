// The program's dialogs on a real X server (Xvfb): shown as the user sees them, checked for
// overlapping controls and clipped captions, and saved as screenshots under build/artifacts/.
//
// The test re-runs itself under xvfb-run; the run inside the X server does the work.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "commands/comm_set_dlg.h"
#include "framework/app.h"
#include "tests/support/harness.h"
#include "tests/support/layout_check.h"
#include "ui/templates.h"

namespace {

constexpr const char* kChildVar = "QM7410_GUI_CHILD";

QString ArtifactDir() {
  const QString dir = QStringLiteral(QM_ARTIFACT_DIR);
  QDir().mkpath(dir);
  return dir;
}

bool InChild() { return std::getenv(kChildVar) != nullptr; }

// Shows `dlg` on the X server, checks its layout and saves `<name>.png` (the widget) and
// `<name>-screen.png` (the whole screen, as X shows it).
void ShowCheckAndSave(fw::CDialog& dlg, const QString& name) {
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg, 5000)) << name.toStdString();
  QTest::qWait(200);

  for (const std::string& problem : layout::Check(dlg))
    ADD_FAILURE() << name.toStdString() << ": " << problem;

  const QString base = ArtifactDir() + "/" + name;
  EXPECT_TRUE(dlg.grab().save(base + ".png")) << base.toStdString();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    EXPECT_TRUE(screen->grabWindow(0).save(base + "-screen.png")) << base.toStdString();
  }
}

void RunInsideX() {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  // The program's colours.
  struct App : fw::CWinApp {
    bool InitInstance() override { return false; }
  };
  static App colours;
  colours.SetDialogBkColor(QColor(181, 240, 249), QColor(0, 0, 0));

  {
    qmtest::Harness h;
    h.dlg->m_bySlaveAddr = 1;
    h.dlg->SetDlgItemText(1061, "1");
    h.dlg->Click(1063);  // polling on, so the boxes hold values
    h.Tick(2);
    ShowCheckAndSave(*h.dlg, "main_window");
  }
  {
    CCommSetDlg dlg;
    dlg.m_nBaud = 9600;
    dlg.m_nPort = 1;
    dlg.Create();
    ShowCheckAndSave(dlg, "comm_set");
    dlg.DestroyWindow();
  }
  for (auto [tpl, name] :
       {std::pair{&MeterSetTemplate(), "meter_set"}, std::pair{&SlaveAddrTemplate(), "slave_addr"}}) {
    fw::CDialog dlg(*tpl);
    dlg.Create();
    ShowCheckAndSave(dlg, name);
    dlg.DestroyWindow();
  }

  // Last, because it takes the capture hook away: a real message box, captioned with the program's
  // name and drawn in the Chinese font.
  fw::SetMessageBoxHook({});
  QString title;
  QString text;
  QTimer::singleShot(300, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible()) continue;
      title = box->windowTitle();
      text = box->text();
      box->grab().save(ArtifactDir() + "/message_box.png");
      box->accept();
    }
  });
  fw::AfxMessageBox(QString::fromUtf8("改变波特率成功"));
  EXPECT_EQ(title, "qm7410-monitor");
  EXPECT_EQ(text, QString::fromUtf8("改变波特率成功"));
}

TEST(OnX, DialogsLookRight) {
  if (InChild()) {
    RunInsideX();
    return;
  }
  const QString xvfb = QStandardPaths::findExecutable("xvfb-run");
  if (xvfb.isEmpty()) GTEST_SKIP() << "xvfb-run is not installed";

  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(kChildVar, "1");
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("LANG", "C.UTF-8");
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const QString filter = QString("--gtest_filter=%1.%2").arg(info->test_suite_name(), info->name());
  child.start(xvfb, {"-a", "-s", "-screen 0 1024x768x24", QCoreApplication::applicationFilePath(), filter});
  ASSERT_TRUE(child.waitForStarted(10000));
  ASSERT_TRUE(child.waitForFinished(120000));
  const QString output = QString::fromLocal8Bit(child.readAll());
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
  EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

}  // namespace
