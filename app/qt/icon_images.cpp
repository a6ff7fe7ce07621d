#include "icon_images.h"

#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>
#include <map>

namespace norvane::qt {
namespace {

struct Entry {
  int size;
  int bits;
};

// The icon directory: one 16-byte entry per image after a 6-byte header.
QList<Entry> Directory(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray header = file.read(6);
  if (header.size() < 6) return {};
  const int count = qFromLittleEndian<quint16>(header.constData() + 4);
  const QByteArray entries = file.read(16 * count);
  if (entries.size() < 16 * count) return {};
  QList<Entry> result;
  for (int i = 0; i < count; ++i) {
    const auto* entry =
        reinterpret_cast<const uchar*>(entries.constData() + 16 * i);
    const int size = entry[0] == 0 ? 256 : entry[0];
    result.append({size, qFromLittleEndian<quint16>(entry + 6)});
  }
  return result;
}

QImage ReadImage(const QString& path, int index) {
  QImageReader reader(path, "ico");
  if (!reader.jumpToImage(index)) return {};
  return reader.read();
}

}  // namespace

QImage IconImage(const QString& path, int size) {
  const QList<Entry> entries = Directory(path);
  int best = -1;
  for (int i = 0; i < entries.size(); ++i) {
    if (entries[i].size == size &&
        (best < 0 || entries[i].bits > entries[best].bits)) {
      best = i;
    }
  }
  return best < 0 ? QImage() : ReadImage(path, best);
}

QIcon DeepestIcon(const QString& path) {
  std::map<int, int> deepest;  // size -> index
  const QList<Entry> entries = Directory(path);
  for (int i = 0; i < entries.size(); ++i) {
    auto [it, added] = deepest.try_emplace(entries[i].size, i);
    if (!added && entries[i].bits > entries[it->second].bits) it->second = i;
  }
  QIcon icon;
  for (const auto& [size, index] : deepest) {
    icon.addPixmap(QPixmap::fromImage(ReadImage(path, index)));
  }
  return icon;
}

}  // namespace norvane::qt
