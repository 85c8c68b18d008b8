#include "QtMessages.h"

#include <QString>
#include <QtGlobal>
#include <iostream>

#include "axcore/MessageText.h"

namespace axhost {
namespace {

bool g_verbose = false;

void FilterQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (!g_verbose && type != QtCriticalMsg && type != QtFatalMsg) return;
  std::cerr << "qt: " << axcore::JoinLines(message.toStdString()) << std::endl;
}

}  // namespace

void InstallQtMessageFilter(bool verbose) {
  g_verbose = verbose;
  qInstallMessageHandler(FilterQtMessage);
}

}  // namespace axhost
