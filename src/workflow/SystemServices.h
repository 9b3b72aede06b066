#pragma once

#include "services/NetworkPathSource.h"
#include "services/ToolPaths.h"
#include "workflow/InstallationServices.h"

#include <QList>
#include <QSslCertificate>
#include <QString>

#include <memory>

namespace tarn {

// What differs between a real installation and a local one (the demo, end-to-end tests): the tools,
// the USB tree, extra HTTPS trust anchors and the network path source. Defaults are this machine's.
struct SystemServiceOptions {
    ToolPaths tools = ToolPaths::forThisSystem();
    QString usbRoot = QStringLiteral("/sys");
    QList<QSslCertificate> extraAuthorities;
    std::shared_ptr<NetworkPathSource> pathSource; // none: the kernel's routing tables
};

// Builds the real services, in the order the workflow depends on them: logger, network monitor, TLS
// validator, HTTPS session, permissions manager, USB scanner, process runner, receipt helper,
// validator, REST client, installer helper. One logger, runner, validator and session are shared.
InstallationServices makeSystemServices(const SystemServiceOptions& options = {});

} // namespace tarn
