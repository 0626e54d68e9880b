#pragma once

#include <QString>
#include <memory>
#include <stdexcept>

class QSettings;

namespace corvexa::platform {

// A failure of the product store (it cannot be opened or written).
class ProductStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The product's per-user store: the native settings of company/product (on
// this platform ~/.config/<company>/<product>.conf), group "Settings". It keeps
// the user's language choice and the update check's state. Every value is a
// string; integers are written as decimal text. The one owner of that store:
// nothing else opens it.
class ProductStore {
public:
    ProductStore(const QString& company, const QString& product);
    ~ProductStore();
    ProductStore(const ProductStore&) = delete;
    ProductStore& operator=(const ProductStore&) = delete;

    // The stored text; empty when the value is missing.
    QString ReadString(const QString& name) const;
    // The stored decimal integer; fallback when missing or not a number.
    int ReadInteger(const QString& name, int fallback) const;
    // Writes and flushes; throws ProductStoreError when the store cannot be written.
    void WriteString(const QString& name, const QString& value);
    void WriteInteger(const QString& name, int value);

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace corvexa::platform
