// PNG pictures of plots for the host's kernel, drawn by Qt's SVG renderer
// from the plot's own SVG, so a PNG shows exactly what the SVG does.
#pragma once

namespace axhost {

// Installs the renderer (axcore::InstallPngRenderer). Without a Qt
// application yet, the first picture starts an offscreen one.
void InstallQtPngRenderer();

}  // namespace axhost
