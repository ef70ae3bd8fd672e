#include "shell/uIcons.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <cmath>
#include <functional>

namespace kelvor {

namespace {

// Every picture is drawn on a 32 x 32 canvas and scaled to the pixmap size.
using TPainter = std::function<void(QPainter&)>;

QPixmap Render(int Side, const TPainter& Paint) {
  QPixmap pixmap(Side, Side);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(Side / 32.0, Side / 32.0);
  Paint(p);
  return pixmap;
}

QIcon MakeIcon(const TPainter& Paint) {
  QIcon icon;
  for (int side : {16, 22, 24, 32, 48})
    icon.addPixmap(Render(side, Paint));
  return icon;
}

const QColor kGreen(0x2e, 0x9d, 0x44);
const QColor kRed(0xd2, 0x3a, 0x32);
const QColor kBlue(0x2b, 0x6c, 0xc4);
const QColor kOrange(0xe8, 0x8a, 0x1a);
const QColor kOutline(0x5a, 0x63, 0x6e);

void Sheet(QPainter& p) {
  QPainterPath path;
  path.moveTo(6.5, 2.5);
  path.lineTo(19.5, 2.5);
  path.lineTo(25.5, 8.5);
  path.lineTo(25.5, 29.5);
  path.lineTo(6.5, 29.5);
  path.closeSubpath();
  QLinearGradient fill(0, 2, 0, 30);
  fill.setColorAt(0, QColor(0xff, 0xff, 0xff));
  fill.setColorAt(1, QColor(0xe6, 0xea, 0xef));
  p.setPen(QPen(kOutline, 1.2));
  p.setBrush(fill);
  p.drawPath(path);
  QPainterPath fold;
  fold.moveTo(19.5, 2.5);
  fold.lineTo(19.5, 8.5);
  fold.lineTo(25.5, 8.5);
  p.setBrush(QColor(0xd5, 0xdb, 0xe2));
  p.drawPath(fold);
  p.setPen(QPen(QColor(0xa9, 0xb2, 0xbc), 1.4));
  for (double y : {13.0, 17.0, 21.0})
    p.drawLine(QPointF(10, y), QPointF(22, y));
}

void Badge(QPainter& p, const QPointF& Center, double Radius, const QColor& Color) {
  QRadialGradient fill(Center - QPointF(Radius / 3, Radius / 3), Radius * 1.6);
  fill.setColorAt(0, Color.lighter(135));
  fill.setColorAt(1, Color);
  p.setPen(QPen(Color.darker(130), 1));
  p.setBrush(fill);
  p.drawEllipse(Center, Radius, Radius);
}

void PlusMark(QPainter& p, const QPointF& C, double Half) {
  p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(C - QPointF(Half, 0), C + QPointF(Half, 0));
  p.drawLine(C - QPointF(0, Half), C + QPointF(0, Half));
}

void CrossMark(QPainter& p, const QPointF& C, double Half, const QColor& Color, double Width) {
  p.setPen(QPen(Color, Width, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(C - QPointF(Half, Half), C + QPointF(Half, Half));
  p.drawLine(C - QPointF(Half, -Half), C + QPointF(Half, -Half));
}

void PlayMark(QPainter& p, const QPointF& C, double Size) {
  QPolygonF tri;
  tri << C + QPointF(-Size * 0.4, -Size * 0.55) << C + QPointF(Size * 0.6, 0)
      << C + QPointF(-Size * 0.4, Size * 0.55);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPolygon(tri);
}

void StopMark(QPainter& p, const QPointF& C, double Size) {
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(C.x() - Size / 2, C.y() - Size / 2, Size, Size), 1, 1);
}

void Tray(QPainter& p) {
  QPainterPath path;
  path.moveTo(3.5, 17.5);
  path.lineTo(9.5, 17.5);
  path.lineTo(11.5, 21.5);
  path.lineTo(20.5, 21.5);
  path.lineTo(22.5, 17.5);
  path.lineTo(28.5, 17.5);
  path.lineTo(28.5, 28.5);
  path.lineTo(3.5, 28.5);
  path.closeSubpath();
  QLinearGradient fill(0, 17, 0, 29);
  fill.setColorAt(0, QColor(0xdf, 0xe4, 0xea));
  fill.setColorAt(1, QColor(0xb7, 0xc0, 0xcb));
  p.setPen(QPen(kOutline, 1.2));
  p.setBrush(fill);
  p.drawPath(path);
}

void Arrow(QPainter& p, bool Down, const QColor& Color) {
  QPolygonF a;
  if (Down)
    a << QPointF(13, 2) << QPointF(19, 2) << QPointF(19, 11) << QPointF(24, 11) << QPointF(16, 19)
      << QPointF(8, 11) << QPointF(13, 11);
  else
    a << QPointF(13, 19) << QPointF(19, 19) << QPointF(19, 10) << QPointF(24, 10) << QPointF(16, 2)
      << QPointF(8, 10) << QPointF(13, 10);
  p.setPen(QPen(Color.darker(130), 1));
  p.setBrush(Color);
  p.drawPolygon(a);
}

void Server(QPainter& p) {
  for (int i = 0; i < 3; ++i) {
    QRectF unit(4.5, 3.5 + i * 8.5, 19, 7.5);
    QLinearGradient fill(0, unit.top(), 0, unit.bottom());
    fill.setColorAt(0, QColor(0x7d, 0x88, 0x95));
    fill.setColorAt(1, QColor(0x4d, 0x57, 0x63));
    p.setPen(QPen(QColor(0x33, 0x3a, 0x42), 1));
    p.setBrush(fill);
    p.drawRoundedRect(unit, 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9e, 0xf0, 0x7a));
    p.drawEllipse(QPointF(8.5, unit.center().y()), 1.3, 1.3);
    p.setPen(QPen(QColor(0xc9, 0xd0, 0xd8), 1));
    p.drawLine(QPointF(12, unit.center().y()), QPointF(20, unit.center().y()));
  }
}

void Gear(QPainter& p) {
  const QPointF c(16, 16);
  QPainterPath gear;
  const int teeth = 8;
  for (int i = 0; i < teeth * 2; ++i) {
    double a0 = (i - 0.5) * M_PI / teeth;
    double a1 = (i + 0.5) * M_PI / teeth;
    double r = (i % 2 == 0) ? 14 : 10.5;
    QPointF p0 = c + QPointF(r * std::cos(a0), r * std::sin(a0));
    QPointF p1 = c + QPointF(r * std::cos(a1), r * std::sin(a1));
    if (i == 0)
      gear.moveTo(p0);
    else
      gear.lineTo(p0);
    gear.lineTo(p1);
  }
  gear.closeSubpath();
  QPainterPath hole;
  hole.addEllipse(c, 4.5, 4.5);
  QRadialGradient fill(c - QPointF(4, 4), 18);
  fill.setColorAt(0, QColor(0xb4, 0xbd, 0xc7));
  fill.setColorAt(1, QColor(0x6b, 0x76, 0x82));
  p.setPen(QPen(QColor(0x45, 0x4e, 0x58), 1));
  p.setBrush(fill);
  p.drawPath(gear.subtracted(hole));
}

void Chart(QPainter& p) {
  QLinearGradient fill(0, 3, 0, 29);
  fill.setColorAt(0, Qt::white);
  fill.setColorAt(1, QColor(0xe6, 0xea, 0xef));
  p.setPen(QPen(kOutline, 1.2));
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(3.5, 3.5, 25, 25), 2, 2);
  const QColor bars[] = {kBlue, kGreen, kOrange};
  const double heights[] = {10, 17, 13};
  for (int i = 0; i < 3; ++i) {
    p.setPen(Qt::NoPen);
    p.setBrush(bars[i]);
    p.drawRect(QRectF(8 + i * 6.5, 25 - heights[i], 4.5, heights[i]));
  }
}

void Door(QPainter& p) {
  QLinearGradient fill(4, 0, 20, 0);
  fill.setColorAt(0, QColor(0xb9, 0x7a, 0x45));
  fill.setColorAt(1, QColor(0x8a, 0x55, 0x2c));
  p.setPen(QPen(QColor(0x5e, 0x3a, 0x1c), 1.2));
  p.setBrush(fill);
  p.drawRect(QRectF(4.5, 3.5, 15, 25));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xf3, 0xd3, 0x6b));
  p.drawEllipse(QPointF(16, 16.5), 1.4, 1.4);
  QPolygonF a;
  a << QPointF(14, 13) << QPointF(22, 13) << QPointF(22, 8.5) << QPointF(30, 16)
    << QPointF(22, 23.5) << QPointF(22, 19) << QPointF(14, 19);
  p.setPen(QPen(kRed.darker(130), 1));
  p.setBrush(kRed);
  p.drawPolygon(a);
}

void Pencil(QPainter& p) {
  p.save();
  p.translate(21, 19);
  p.rotate(45);
  p.setPen(QPen(QColor(0x7a, 0x4a, 0x0e), 1));
  p.setBrush(kOrange);
  p.drawRect(QRectF(-3, -13, 6, 17));
  p.setBrush(QColor(0xf1, 0xd3, 0xa5));
  QPolygonF tip;
  tip << QPointF(-3, 4) << QPointF(3, 4) << QPointF(0, 9.5);
  p.drawPolygon(tip);
  p.setBrush(QColor(0xe0, 0x7f, 0x9a));
  p.drawRect(QRectF(-3, -16, 6, 3));
  p.restore();
}

}  // namespace

QIcon ToolIcon(TToolIcon Kind) {
  switch (Kind) {
    case TToolIcon::NewMission:
      return MakeIcon([](QPainter& p) {
        Sheet(p);
        Badge(p, QPointF(23, 23), 7.5, kGreen);
        PlusMark(p, QPointF(23, 23), 4);
      });
    case TToolIcon::EditMission:
      return MakeIcon([](QPainter& p) {
        Sheet(p);
        Pencil(p);
      });
    case TToolIcon::DeleteMission:
      return MakeIcon([](QPainter& p) {
        Sheet(p);
        Badge(p, QPointF(23, 23), 7.5, kRed);
        CrossMark(p, QPointF(23, 23), 3.2, Qt::white, 2.6);
      });
    case TToolIcon::Import:
      return MakeIcon([](QPainter& p) {
        Tray(p);
        Arrow(p, true, kBlue);
      });
    case TToolIcon::Export:
      return MakeIcon([](QPainter& p) {
        Tray(p);
        Arrow(p, false, kGreen);
      });
    case TToolIcon::StartMission:
      return MakeIcon([](QPainter& p) {
        Badge(p, QPointF(16, 16), 13.5, kGreen);
        PlayMark(p, QPointF(16, 16), 13);
      });
    case TToolIcon::StopMission:
      return MakeIcon([](QPainter& p) {
        Badge(p, QPointF(16, 16), 13.5, kRed);
        StopMark(p, QPointF(16, 16), 10);
      });
    case TToolIcon::StartServer:
      return MakeIcon([](QPainter& p) {
        Server(p);
        Badge(p, QPointF(23.5, 23.5), 7.5, kGreen);
        PlayMark(p, QPointF(23.5, 23.5), 8);
      });
    case TToolIcon::StopServer:
      return MakeIcon([](QPainter& p) {
        Server(p);
        Badge(p, QPointF(23.5, 23.5), 7.5, kRed);
        StopMark(p, QPointF(23.5, 23.5), 6);
      });
    case TToolIcon::Report:
      return MakeIcon([](QPainter& p) { Chart(p); });
    case TToolIcon::Config:
      return MakeIcon([](QPainter& p) { Gear(p); });
    case TToolIcon::Exit:
      return MakeIcon([](QPainter& p) { Door(p); });
  }
  return QIcon();
}

QIcon MissionStateIcon(int Index) {
  switch (Index) {
    case 0:
      return MakeIcon([](QPainter& p) {
        Badge(p, QPointF(16, 16), 12.5, QColor(0x6f, 0x7d, 0x8c));
        StopMark(p, QPointF(16, 16), 10);
      });
    case 1:
      return MakeIcon([](QPainter& p) {
        Badge(p, QPointF(16, 16), 12.5, kGreen);
        PlayMark(p, QPointF(16, 16), 13);
      });
    case 6:
      return MakeIcon([](QPainter& p) {
        p.setPen(QPen(kRed, 3.5));
        p.setBrush(QColor(0xf4, 0xf4, 0xf4));
        p.drawEllipse(QPointF(16, 16), 11.5, 11.5);
        p.setPen(QPen(kRed, 3.5, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(8, 8), QPointF(24, 24));
      });
    default:
      if (Index < 0 || Index >= kMissionImageCount) return QIcon();
      return MakeIcon([](QPainter&) {});
  }
}

namespace {
void PaintApplicationIcon(QPainter& p) {
  QLinearGradient fill(0, 1, 0, 31);
  fill.setColorAt(0, QColor(0x3d, 0x8b, 0xe0));
  fill.setColorAt(1, QColor(0x1d, 0x4f, 0x96));
  p.setPen(QPen(QColor(0x17, 0x3f, 0x78), 1));
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
  // Two opposed arrows: a table kept in step with another.
  p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(7, 11), QPointF(23, 11));
  p.drawLine(QPointF(19, 7), QPointF(23, 11));
  p.drawLine(QPointF(19, 15), QPointF(23, 11));
  p.drawLine(QPointF(25, 21), QPointF(9, 21));
  p.drawLine(QPointF(13, 17), QPointF(9, 21));
  p.drawLine(QPointF(13, 25), QPointF(9, 21));
}
}  // namespace

QIcon ApplicationIcon() {
  return MakeIcon(PaintApplicationIcon);
}

QPixmap AboutPicture(const QSize& Size) {
  QPixmap pixmap(Size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, Size.width(), Size.height());
  sky.setColorAt(0, QColor(0x1d, 0x4f, 0x96));
  sky.setColorAt(1, QColor(0x3d, 0x8b, 0xe0));
  p.fillRect(pixmap.rect(), sky);
  // Faint rows of a table in the background.
  p.setPen(QPen(QColor(255, 255, 255, 28), 1));
  for (int y = 14; y < Size.height(); y += 18)
    p.drawLine(0, y, Size.width(), y);
  const int side = 64;
  p.drawPixmap(24, 24, Render(side, PaintApplicationIcon));
  QFont title = p.font();
  title.setPointSize(22);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRect(24 + side + 16, 24, Size.width() - side - 56, side),
             Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Kelvor"));
  return pixmap;
}

}  // namespace kelvor
