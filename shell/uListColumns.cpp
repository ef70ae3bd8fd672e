#include "shell/uListColumns.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <algorithm>

namespace kelvor {

namespace {

// The style's margin on each side of an item's text and of its icon.
int ItemMargin(const QAbstractItemView& View) {
  return View.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &View) + 1;
}

}  // namespace

int CellTextWidth(const QAbstractItemView& View, const QString& Text, bool WithIcon) {
  const int margin = ItemMargin(View);
  // One pixel each side for the grid line and for rounding of the text's
  // advance.
  int width = View.fontMetrics().horizontalAdvance(Text) + 2 * margin + 2;
  if (WithIcon) width += View.iconSize().width() + 2 * margin;
  return width;
}

int ColumnWidthFor(const QAbstractItemView& View, const QHeaderView& Header, int Column,
                   const QStringList& Texts, bool WithIcon) {
  int width = Header.sectionSizeHint(Column);
  for (const QString& text : Texts)
    width = std::max(width, CellTextWidth(View, text, WithIcon));
  // Room to breathe, which also absorbs the fraction of a pixel a text's
  // drawn width may have beyond its measured one.
  return width + 2 * View.fontMetrics().averageCharWidth();
}

int ColumnWidthInChars(const QAbstractItemView& View, const QHeaderView& Header, int Column,
                       int Chars) {
  const int chars = Chars * View.fontMetrics().averageCharWidth() + 2 * ItemMargin(View) + 2;
  return std::max(Header.sectionSizeHint(Column), chars);
}

}  // namespace kelvor
