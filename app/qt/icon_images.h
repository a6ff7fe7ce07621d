// Picks single images out of the icons in the program's resources.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace norvane::qt {

// The image of the given square size with the most bits per pixel in the
// .ico file at path; a null image when there is none.
QImage IconImage(const QString& path, int size);

// Every size of the .ico file at path, each at its deepest colour.
QIcon DeepestIcon(const QString& path);

}  // namespace norvane::qt
