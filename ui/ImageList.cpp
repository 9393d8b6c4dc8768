#include "ui/ImageList.h"

#include <QString>
#include <array>

// Resources of a static library have to be registered by hand, outside any namespace.
static void registerImageResources() {
    Q_INIT_RESOURCE(icons);
}

namespace ImageList {

namespace {

const std::array<QIcon, kCount>& icons() {
    static const std::array<QIcon, kCount> all = [] {
        registerImageResources();
        std::array<QIcon, kCount> out;
        for (int i = 0; i < kCount; ++i) {
            out[static_cast<std::size_t>(i)] = QIcon(QStringLiteral(":/images/%1.svg").arg(i));
        }
        return out;
    }();
    return all;
}

}  // namespace

QIcon icon(int index) {
    if (index < 0 || index >= kCount) {
        return {};
    }
    return icons()[static_cast<std::size_t>(index)];
}

QIcon appIcon() {
    icons();
    return QIcon(QStringLiteral(":/images/app.svg"));
}

}  // namespace ImageList
