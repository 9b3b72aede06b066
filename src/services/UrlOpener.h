#pragma once

#include <QUrl>

namespace tarn {

// Hands a web page or a file to the desktop's default application, without waiting for it.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;

    virtual void open(const QUrl& url) = 0;
};

// QDesktopServices, for real use.
class DesktopUrlOpener final : public UrlOpener {
public:
    void open(const QUrl& url) override;
};

} // namespace tarn
