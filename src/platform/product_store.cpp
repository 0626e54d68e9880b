#include "platform/product_store.h"

#include <QSettings>

namespace corvexa::platform {
namespace {
const QString kGroup = QStringLiteral("Settings");
}

ProductStore::ProductStore(const QString& company, const QString& product)
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, company,
                                            product)) {
    if (settings_->status() == QSettings::AccessError)
        throw ProductStoreError("The product store cannot be opened.");
}

ProductStore::~ProductStore() = default;

QString ProductStore::ReadString(const QString& name) const {
    return settings_->value(kGroup + QLatin1Char('/') + name).toString();
}

int ProductStore::ReadInteger(const QString& name, int fallback) const {
    bool ok = false;
    const int value = ReadString(name).trimmed().toInt(&ok);
    return ok ? value : fallback;
}

void ProductStore::WriteString(const QString& name, const QString& value) {
    settings_->setValue(kGroup + QLatin1Char('/') + name, value);
    settings_->sync();
    if (settings_->status() != QSettings::NoError)
        throw ProductStoreError("The product store cannot be written.");
}

void ProductStore::WriteInteger(const QString& name, int value) {
    WriteString(name, QString::number(value));
}

}  // namespace corvexa::platform
