// Widths of list columns taken from the list's font and style, so that the
// texts a column is meant to show whole stay whole at whatever font the
// desktop gives. Window thread only.
#pragma once

#include <QStringList>

class QAbstractItemView;
class QHeaderView;

namespace kelvor {

// The width a cell of View needs to show Text whole: the text at View's
// font, the item margins of View's style, and room for an icon of View's
// icon size when WithIcon.
int CellTextWidth(const QAbstractItemView& View, const QString& Text, bool WithIcon = false);

// A width for Column that shows its header (Header's section Column) and
// each of Texts whole, with two average characters to spare.
int ColumnWidthFor(const QAbstractItemView& View, const QHeaderView& Header, int Column,
                   const QStringList& Texts, bool WithIcon = false);

// A width of about Chars average characters of View's font, and at least
// the header's; for columns of free text, which elide with a tooltip.
int ColumnWidthInChars(const QAbstractItemView& View, const QHeaderView& Header, int Column,
                       int Chars);

}  // namespace kelvor
