#include "app/artwork.hpp"

#include <QPixmap>

namespace rkv {

namespace {

QImage decode(const ResourceTable& resources, const char* name, const char* type,
              const char* format) {
    const auto bytes = findResource(resources, name, type);
    if (bytes.empty()) return {};
    return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), format);
}

} // namespace

QImage titlePicture(const ResourceTable& resources) {
    return decode(resources, "TITLE", "BITMAP", "BMP");
}

QIcon windowIcon(const ResourceTable& resources) {
    const QImage image = decode(resources, "ICON", "ICON", "ICO");
    if (image.isNull()) return {};
    return QIcon(QPixmap::fromImage(image));
}

} // namespace rkv
