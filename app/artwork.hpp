// The title picture and the window icon, decoded from the resources built into the program.
#pragma once

#include <QIcon>
#include <QImage>

#include "sound/resources.hpp"

namespace rkv {

// The "TITLE" bitmap; a null image when the table has none or it cannot be decoded.
QImage titlePicture(const ResourceTable& resources);
// The "ICON" icon; an empty icon when missing.
QIcon windowIcon(const ResourceTable& resources);

} // namespace rkv
