<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name></name>
    <message id="button.back">
        <source>Back</source>
        <translation>Back</translation>
    </message>
    <message id="button.cancel">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="button.close">
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message id="button.done">
        <source>Done</source>
        <translation>Done</translation>
    </message>
    <message id="button.download" numerus="yes">
        <source>Download (%n apps)</source>
        <translation>
            <numerusform>Download (%n app)</numerusform>
            <numerusform>Download (%n apps)</numerusform>
        </translation>
    </message>
    <message id="button.next">
        <source>Next</source>
        <translation>Next</translation>
    </message>
    <message id="button.no">
        <source>No</source>
        <translation>No</translation>
    </message>
    <message id="button.retry">
        <source>Retry</source>
        <translation>Retry</translation>
    </message>
    <message id="button.yes">
        <source>Yes</source>
        <translation>Yes</translation>
    </message>
    <message id="cancel.install.subtitle">
        <source>Applications that are already installed stay on this computer. You can run the installer again at any time.</source>
        <translation>Applications that are already installed stay on this computer. You can run the installer again at any time.</translation>
    </message>
    <message id="cancel.install.title">
        <source>Cancel the installation?</source>
        <translation>Cancel the installation?</translation>
    </message>
    <message id="connect.device.subtitle">
        <source>Plug the scanner into a USB port of this computer, switch it on and choose Next.</source>
        <translation>Plug the scanner into a USB port of this computer, switch it on and choose Next.</translation>
    </message>
    <message id="connect.device.title">
        <source>Connect your scanner</source>
        <translation>Connect your scanner</translation>
    </message>
    <message id="device.detected.subtitle">
        <source>Next, choose the applications to install for this scanner.</source>
        <translation>Next, choose the applications to install for this scanner.</translation>
    </message>
    <message id="device.detected.title">
        <source>%@ detected</source>
        <translation>%@ detected</translation>
    </message>
    <message id="device.detected.unknown">
        <source>Unknown scanner</source>
        <translation>Unknown scanner</translation>
    </message>
    <message id="device.not.detected.subtitle">
        <source>Check that the scanner is connected and switched on, or choose your model from the list.</source>
        <translation>Check that the scanner is connected and switched on, or choose your model from the list.</translation>
    </message>
    <message id="device.not.detected.title">
        <source>No scanner found</source>
        <translation>No scanner found</translation>
    </message>
    <message id="device.picker.accessible.name">
        <source>Scanner model</source>
        <translation>Scanner model</translation>
    </message>
    <message id="device.search.no.models.subtitle">
        <source>The configuration service lists no supported scanner. Please try again later or contact T.A.R.N. support.</source>
        <translation>The configuration service lists no supported scanner. Please try again later or contact T.A.R.N. support.</translation>
    </message>
    <message id="device.search.no.models.title">
        <source>No supported scanner</source>
        <translation>No supported scanner</translation>
    </message>
    <message id="device.search.subtitle">
        <source>This can take up to 15 seconds.</source>
        <translation>This can take up to 15 seconds.</translation>
    </message>
    <message id="device.search.title">
        <source>Looking for your scanner…</source>
        <translation>Looking for your scanner…</translation>
    </message>
    <message id="error.code.signature.mismatch">
        <source>A package is not signed by a trusted publisher</source>
        <translation>A package is not signed by a trusted publisher</translation>
    </message>
    <message id="error.connectivity">
        <source>The T.A.R.N. service could not be reached</source>
        <translation>The T.A.R.N. service could not be reached</translation>
    </message>
    <message id="error.content.hash.mismatch">
        <source>A downloaded file failed its integrity check</source>
        <translation>A downloaded file failed its integrity check</translation>
    </message>
    <message id="error.corrupted.json">
        <source>The configuration received from the service is damaged</source>
        <translation>The configuration received from the service is damaged</translation>
    </message>
    <message id="error.file.path.invalid">
        <source>A file location is not valid</source>
        <translation>A file location is not valid</translation>
    </message>
    <message id="error.filenotfound">
        <source>The document could not be loaded.</source>
        <translation>The document could not be loaded.</translation>
    </message>
    <message id="error.generic">
        <source>An unexpected error occurred</source>
        <translation>An unexpected error occurred</translation>
    </message>
    <message id="error.installation.interrupted">
        <source>The installation was interrupted before this application was installed.</source>
        <translation>The installation was interrupted before this application was installed.</translation>
    </message>
    <message id="error.installer.link.invalid">
        <source>The download link of this application is not valid. Please contact T.A.R.N. support.</source>
        <translation>The download link of this application is not valid. Please contact T.A.R.N. support.</translation>
    </message>
    <message id="error.no.permissions">
        <source>Administrator rights are needed to install the applications</source>
        <translation>Administrator rights are needed to install the applications</translation>
    </message>
    <message id="error.no.permissions.cancelled">
        <source>The password prompt was cancelled. Nothing was downloaded or installed.</source>
        <translation>The password prompt was cancelled. Nothing was downloaded or installed.</translation>
    </message>
    <message id="error.no.permissions.not.allowed">
        <source>Your account may not install software on this computer. Ask an administrator to install the applications.</source>
        <translation>Your account may not install software on this computer. Ask an administrator to install the applications.</translation>
    </message>
    <message id="error.no.permissions.unavailable">
        <source>Administrator rights cannot be requested on this computer: sudo is missing or cannot run.</source>
        <translation>Administrator rights cannot be requested on this computer: sudo is missing or cannot run.</translation>
    </message>
    <message id="error.no.permissions.wrong.password">
        <source>The password was not accepted. Nothing was downloaded or installed.</source>
        <translation>The password was not accepted. Nothing was downloaded or installed.</translation>
    </message>
    <message id="error.pkg.from.dmg.not.found">
        <source>The disk image contains no installer package</source>
        <translation>The disk image contains no installer package</translation>
    </message>
    <message id="error.ssl.connection.failed">
        <source>A secure connection to the T.A.R.N. service could not be established</source>
        <translation>A secure connection to the T.A.R.N. service could not be established</translation>
    </message>
    <message id="eula.accept">
        <source>I accept the terms of the license agreement</source>
        <translation>I accept the terms of the license agreement</translation>
    </message>
    <message id="eula.title">
        <source>License agreement</source>
        <translation>License agreement</translation>
    </message>
    <message id="failed.to.install.title">
        <source>These applications could not be installed:</source>
        <translation>These applications could not be installed:</translation>
    </message>
    <message id="info.error.connectivity.fail.title">
        <source>No internet connection</source>
        <translation>No internet connection</translation>
    </message>
    <message id="info.error.install.fail.subtitle">
        <source>Something went wrong. Check your internet connection and try again, or contact our support team.</source>
        <translation>Something went wrong. Check your internet connection and try again, or contact our support team.</translation>
    </message>
    <message id="info.error.install.fail.title">
        <source>Installation failed</source>
        <translation>Installation failed</translation>
    </message>
    <message id="info.success.subtitle">
        <source>Your scanner software is installed and ready to use.</source>
        <translation>Your scanner software is installed and ready to use.</translation>
    </message>
    <message id="info.success.title">
        <source>All set</source>
        <translation>All set</translation>
    </message>
    <message id="install.progress.amounts">
        <source>%1 of %2</source>
        <translation>%1 of %2</translation>
    </message>
    <message id="install.progress.sized">
        <source>%1 % · %2</source>
        <translation>%1 % · %2</translation>
    </message>
    <message id="install.progress.unsized">
        <source>%1 received</source>
        <translation>%1 received</translation>
    </message>
    <message id="install.state.done">
        <source>Installed</source>
        <translation>Installed</translation>
    </message>
    <message id="install.state.downloading">
        <source>Downloading</source>
        <translation>Downloading</translation>
    </message>
    <message id="install.state.failure">
        <source>Failed</source>
        <translation>Failed</translation>
    </message>
    <message id="install.state.progress">
        <source>Installing</source>
        <translation>Installing</translation>
    </message>
    <message id="installer.disclaimer">
        <source>T.A.R.N. Installer wants to install “%1”. Enter an administrator password to allow this.</source>
        <translation>T.A.R.N. Installer wants to install “%1”. Enter an administrator password to allow this.</translation>
    </message>
    <message id="installer.subtitle">
        <source>Each application is downloaded, verified and installed in turn. Keep this window open.</source>
        <translation>Each application is downloaded, verified and installed in turn. Keep this window open.</translation>
    </message>
    <message id="installer.title">
        <source>Installing</source>
        <translation>Installing</translation>
    </message>
    <message id="legal.accept">
        <source>I have read and accept the legal notice</source>
        <translation>I have read and accept the legal notice</translation>
    </message>
    <message id="legal.title">
        <source>Legal notice</source>
        <translation>Legal notice</translation>
    </message>
    <message id="menu.copy">
        <source>Copy</source>
        <translation>Copy</translation>
    </message>
    <message id="menu.edit">
        <source>Edit</source>
        <translation>Edit</translation>
    </message>
    <message id="menu.file">
        <source>File</source>
        <translation>File</translation>
    </message>
    <message id="menu.minimize">
        <source>Minimize</source>
        <translation>Minimize</translation>
    </message>
    <message id="menu.open.logs">
        <source>Open Log File</source>
        <translation>Open Log File</translation>
    </message>
    <message id="menu.quit">
        <source>Quit T.A.R.N. Installer</source>
        <translation>Quit T.A.R.N. Installer</translation>
    </message>
    <message id="menu.select.all">
        <source>Select All</source>
        <translation>Select All</translation>
    </message>
    <message id="menu.view">
        <source>View</source>
        <translation>View</translation>
    </message>
    <message id="menu.window">
        <source>Window</source>
        <translation>Window</translation>
    </message>
    <message id="package.manager.title">
        <source>Applications for %@</source>
        <translation>Applications for %@</translation>
    </message>
    <message id="permissions.prompt">
        <source>T.A.R.N. Installer needs administrator rights to install the applications you chose. Enter your password to allow this.</source>
        <translation>T.A.R.N. Installer needs administrator rights to install the applications you chose. Enter your password to allow this.</translation>
    </message>
    <message id="software.type.trial">
        <source>Trial</source>
        <translation>Trial</translation>
    </message>
    <message id="spinner.accessible.name">
        <source>In progress</source>
        <translation>In progress</translation>
    </message>
    <message id="support.link.title">
        <source>Need help? Visit the T.A.R.N. support page</source>
        <translation>Need help? Visit the T.A.R.N. support page</translation>
    </message>
    <message id="welcome.button.text">
        <source>Get started</source>
        <translation>Get started</translation>
    </message>
    <message id="welcome.subtitle">
        <source>This assistant sets up the software for your T.A.R.N. scanner. It only takes a few minutes.</source>
        <translation>This assistant sets up the software for your T.A.R.N. scanner. It only takes a few minutes.</translation>
    </message>
    <message id="welcome.title">
        <source>Welcome</source>
        <translation>Welcome</translation>
    </message>
    <message id="window.title">
        <source>T.A.R.N. Installer</source>
        <translation>T.A.R.N. Installer</translation>
    </message>
</context>
</TS>
