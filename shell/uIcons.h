// The shell's pictures: toolbar icons, the task list's state icons, the
// application icon and the about box's picture. They are drawn at run time,
// so the program looks the same whatever icon theme the desktop has.
// Window thread only (they paint on QPixmap).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace kelvor {

enum class TToolIcon {
  NewMission,
  EditMission,
  DeleteMission,
  Import,
  Export,
  StartMission,
  StopMission,
  StartServer,
  StopServer,
  Report,
  Config,
  Exit,
};

QIcon ToolIcon(TToolIcon Kind);

// The task image list: index 0 stopped, 1 running, 6 not activated; the
// other indexes of 0..6 are empty pictures. Out of range: a null icon.
constexpr int kMissionImageCount = 7;
QIcon MissionStateIcon(int Index);

QIcon ApplicationIcon();
QPixmap AboutPicture(const QSize& Size);

}  // namespace kelvor
