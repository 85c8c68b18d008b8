#include "QtPngRenderer.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>
#include <memory>

#include "axcore/MessageText.h"
#include "axcore/PlotDocument.h"
#include "axcore/SetupFile.h"

namespace axhost {
namespace {

int g_argc = 1;
char g_name[] = "axhost";
char* g_argv[] = {g_name, nullptr};

// Fonts need a GUI application; a run without one gets one for the
// picture, drawing offscreen when there is no screen.
std::unique_ptr<QGuiApplication> ApplicationForPicture() {
  if (QCoreApplication::instance() != nullptr) return nullptr;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  return std::make_unique<QGuiApplication>(g_argc, g_argv);
}

std::string Render(const std::string& svg, double scale, const std::string& path) {
  const std::string target = axcore::QuoteForMessage(path);
  const std::unique_ptr<QGuiApplication> application = ApplicationForPicture();
  QSvgRenderer renderer(QByteArray::fromStdString(svg));
  if (!renderer.isValid()) return "cannot write " + target + ": the plot's picture could not be drawn";
  const QSize size = renderer.defaultSize();
  QImage image(static_cast<int>(std::lround(size.width() * scale)), static_cast<int>(std::lround(size.height() * scale)),
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
  }
  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
    return "cannot write " + target + ": the picture could not be encoded";
  // Whole or not at all, as every file the host writes.
  return axcore::ReplaceFile(path, png.toStdString());
}

}  // namespace

void InstallQtPngRenderer() { axcore::InstallPngRenderer(Render); }

}  // namespace axhost
