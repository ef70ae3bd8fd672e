// Stands in for the desktop's URL opener: QDesktopServices hands it every
// URL of a scheme it was registered for.
#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace kelvor {

class TUrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> Urls;

 public slots:
  void Open(const QUrl& Url) { Urls << Url; }
};

}  // namespace kelvor
