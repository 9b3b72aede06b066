<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name></name>
    <message id="button.back">
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message id="button.cancel">
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message id="button.close">
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message id="button.done">
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message id="button.download" numerus="yes">
        <source>Download (%n apps)</source>
        <translation>
            <numerusform>Herunterladen (%n App)</numerusform>
            <numerusform>Herunterladen (%n Apps)</numerusform>
        </translation>
    </message>
    <message id="button.next">
        <source>Next</source>
        <translation>Weiter</translation>
    </message>
    <message id="button.no">
        <source>No</source>
        <translation>Nein</translation>
    </message>
    <message id="button.retry">
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message id="button.yes">
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message id="cancel.install.subtitle">
        <source>Applications that are already installed stay on this computer. You can run the installer again at any time.</source>
        <translation>Bereits installierte Anwendungen bleiben auf diesem Computer. Sie können den Installer jederzeit erneut starten.</translation>
    </message>
    <message id="cancel.install.title">
        <source>Cancel the installation?</source>
        <translation>Installation abbrechen?</translation>
    </message>
    <message id="connect.device.subtitle">
        <source>Plug the scanner into a USB port of this computer, switch it on and choose Next.</source>
        <translation>Verbinden Sie den Scanner mit einem USB-Anschluss dieses Computers, schalten Sie ihn ein und wählen Sie „Weiter“.</translation>
    </message>
    <message id="connect.device.title">
        <source>Connect your scanner</source>
        <translation>Scanner anschließen</translation>
    </message>
    <message id="device.detected.subtitle">
        <source>Next, choose the applications to install for this scanner.</source>
        <translation>Wählen Sie als Nächstes die Anwendungen aus, die für diesen Scanner installiert werden sollen.</translation>
    </message>
    <message id="device.detected.title">
        <source>%@ detected</source>
        <translation>%@ erkannt</translation>
    </message>
    <message id="device.detected.unknown">
        <source>Unknown scanner</source>
        <translation>Unbekannter Scanner</translation>
    </message>
    <message id="device.not.detected.subtitle">
        <source>Check that the scanner is connected and switched on, or choose your model from the list.</source>
        <translation>Prüfen Sie, ob der Scanner angeschlossen und eingeschaltet ist, oder wählen Sie Ihr Modell aus der Liste.</translation>
    </message>
    <message id="device.not.detected.title">
        <source>No scanner found</source>
        <translation>Kein Scanner gefunden</translation>
    </message>
    <message id="device.picker.accessible.name">
        <source>Scanner model</source>
        <translation>Scannermodell</translation>
    </message>
    <message id="device.search.no.models.subtitle">
        <source>The configuration service lists no supported scanner. Please try again later or contact T.A.R.N. support.</source>
        <translation>Der Konfigurationsdienst führt keinen unterstützten Scanner. Bitte versuchen Sie es später erneut oder wenden Sie sich an den T.A.R.N. Support.</translation>
    </message>
    <message id="device.search.no.models.title">
        <source>No supported scanner</source>
        <translation>Kein unterstützter Scanner</translation>
    </message>
    <message id="device.search.subtitle">
        <source>This can take up to 15 seconds.</source>
        <translation>Das kann bis zu 15 Sekunden dauern.</translation>
    </message>
    <message id="device.search.title">
        <source>Looking for your scanner…</source>
        <translation>Scanner wird gesucht …</translation>
    </message>
    <message id="error.code.signature.mismatch">
        <source>A package is not signed by a trusted publisher</source>
        <translation>Ein Paket ist nicht von einem vertrauenswürdigen Herausgeber signiert</translation>
    </message>
    <message id="error.connectivity">
        <source>The T.A.R.N. service could not be reached</source>
        <translation>Der T.A.R.N.-Dienst ist nicht erreichbar</translation>
    </message>
    <message id="error.content.hash.mismatch">
        <source>A downloaded file failed its integrity check</source>
        <translation>Eine heruntergeladene Datei hat die Integritätsprüfung nicht bestanden</translation>
    </message>
    <message id="error.corrupted.json">
        <source>The configuration received from the service is damaged</source>
        <translation>Die vom Dienst erhaltene Konfiguration ist beschädigt</translation>
    </message>
    <message id="error.file.path.invalid">
        <source>A file location is not valid</source>
        <translation>Ein Dateipfad ist ungültig</translation>
    </message>
    <message id="error.filenotfound">
        <source>The document could not be loaded.</source>
        <translation>Das Dokument konnte nicht geladen werden.</translation>
    </message>
    <message id="error.generic">
        <source>An unexpected error occurred</source>
        <translation>Ein unerwarteter Fehler ist aufgetreten</translation>
    </message>
    <message id="error.installation.interrupted">
        <source>The installation was interrupted before this application was installed.</source>
        <translation>Die Installation wurde unterbrochen, bevor diese Anwendung installiert war.</translation>
    </message>
    <message id="error.installer.link.invalid">
        <source>The download link of this application is not valid. Please contact T.A.R.N. support.</source>
        <translation>Der Download-Link dieser Anwendung ist ungültig. Bitte wenden Sie sich an den T.A.R.N. Support.</translation>
    </message>
    <message id="error.no.permissions">
        <source>Administrator rights are needed to install the applications</source>
        <translation>Für die Installation der Anwendungen werden Administratorrechte benötigt</translation>
    </message>
    <message id="error.no.permissions.cancelled">
        <source>The password prompt was cancelled. Nothing was downloaded or installed.</source>
        <translation>Die Passwortabfrage wurde abgebrochen. Es wurde nichts heruntergeladen oder installiert.</translation>
    </message>
    <message id="error.no.permissions.not.allowed">
        <source>Your account may not install software on this computer. Ask an administrator to install the applications.</source>
        <translation>Ihr Benutzerkonto darf auf diesem Computer keine Software installieren. Bitten Sie einen Administrator, die Anwendungen zu installieren.</translation>
    </message>
    <message id="error.no.permissions.unavailable">
        <source>Administrator rights cannot be requested on this computer: sudo is missing or cannot run.</source>
        <translation>Auf diesem Computer können keine Administratorrechte angefordert werden: sudo fehlt oder kann nicht ausgeführt werden.</translation>
    </message>
    <message id="error.no.permissions.wrong.password">
        <source>The password was not accepted. Nothing was downloaded or installed.</source>
        <translation>Das Passwort wurde nicht akzeptiert. Es wurde nichts heruntergeladen oder installiert.</translation>
    </message>
    <message id="error.pkg.from.dmg.not.found">
        <source>The disk image contains no installer package</source>
        <translation>Das Disk-Image enthält kein Installationspaket</translation>
    </message>
    <message id="error.ssl.connection.failed">
        <source>A secure connection to the T.A.R.N. service could not be established</source>
        <translation>Es konnte keine sichere Verbindung zum T.A.R.N.-Dienst hergestellt werden</translation>
    </message>
    <message id="eula.accept">
        <source>I accept the terms of the license agreement</source>
        <translation>Ich akzeptiere die Bedingungen der Lizenzvereinbarung</translation>
    </message>
    <message id="eula.title">
        <source>License agreement</source>
        <translation>Lizenzvereinbarung</translation>
    </message>
    <message id="failed.to.install.title">
        <source>These applications could not be installed:</source>
        <translation>Diese Anwendungen konnten nicht installiert werden:</translation>
    </message>
    <message id="info.error.connectivity.fail.title">
        <source>No internet connection</source>
        <translation>Keine Verbindung</translation>
    </message>
    <message id="info.error.install.fail.subtitle">
        <source>Something went wrong. Check your internet connection and try again, or contact our support team.</source>
        <translation>Etwas ist schiefgelaufen. Prüfen Sie Ihre Internetverbindung und versuchen Sie es erneut, oder wenden Sie sich an unseren Support.</translation>
    </message>
    <message id="info.error.install.fail.title">
        <source>Installation failed</source>
        <translation>Nicht installiert</translation>
    </message>
    <message id="info.success.subtitle">
        <source>Your scanner software is installed and ready to use.</source>
        <translation>Ihre Scanner-Software ist installiert und einsatzbereit.</translation>
    </message>
    <message id="info.success.title">
        <source>All set</source>
        <translation>Alles bereit</translation>
    </message>
    <message id="install.progress.amounts">
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message id="install.progress.sized">
        <source>%1 % · %2</source>
        <translation>%1 % · %2</translation>
    </message>
    <message id="install.progress.unsized">
        <source>%1 received</source>
        <translation>%1 empfangen</translation>
    </message>
    <message id="install.state.done">
        <source>Installed</source>
        <translation>Installiert</translation>
    </message>
    <message id="install.state.downloading">
        <source>Downloading</source>
        <translation>Wird heruntergeladen</translation>
    </message>
    <message id="install.state.failure">
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
    <message id="install.state.progress">
        <source>Installing</source>
        <translation>Wird installiert</translation>
    </message>
    <message id="installer.disclaimer">
        <source>T.A.R.N. Installer wants to install “%1”. Enter an administrator password to allow this.</source>
        <translation>Der T.A.R.N. Installer möchte „%1“ installieren. Geben Sie zur Bestätigung ein Administratorpasswort ein.</translation>
    </message>
    <message id="installer.subtitle">
        <source>Each application is downloaded, verified and installed in turn. Please keep this window open.</source>
        <translation>Jede Anwendung wird nacheinander heruntergeladen, geprüft und installiert. Bitte lassen Sie dieses Fenster geöffnet.</translation>
    </message>
    <message id="installer.title">
        <source>Installing</source>
        <translation>Installation läuft</translation>
    </message>
    <message id="legal.accept">
        <source>I have read and accept the legal notice</source>
        <translation>Ich habe die rechtlichen Hinweise gelesen und akzeptiere sie</translation>
    </message>
    <message id="legal.title">
        <source>Legal notice</source>
        <translation>Rechtliche Hinweise</translation>
    </message>
    <message id="menu.copy">
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message id="menu.edit">
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message id="menu.file">
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message id="menu.minimize">
        <source>Minimize</source>
        <translation>Minimieren</translation>
    </message>
    <message id="menu.open.logs">
        <source>Open Log File</source>
        <translation>Protokolldatei öffnen</translation>
    </message>
    <message id="menu.quit">
        <source>Quit T.A.R.N. Installer</source>
        <translation>T.A.R.N. Installer beenden</translation>
    </message>
    <message id="menu.select.all">
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
    <message id="menu.view">
        <source>View</source>
        <translation>Ansicht</translation>
    </message>
    <message id="menu.window">
        <source>Window</source>
        <translation>Fenster</translation>
    </message>
    <message id="package.manager.title">
        <source>Applications for %@</source>
        <translation>Anwendungen für %@</translation>
    </message>
    <message id="permissions.prompt">
        <source>T.A.R.N. Installer needs administrator rights to install the applications you chose. Enter your password to allow this.</source>
        <translation>Der T.A.R.N. Installer benötigt Administratorrechte, um die ausgewählten Anwendungen zu installieren. Geben Sie Ihr Passwort ein, um dies zu erlauben.</translation>
    </message>
    <message id="software.type.trial">
        <source>Trial</source>
        <translation>Testversion</translation>
    </message>
    <message id="spinner.accessible.name">
        <source>In progress</source>
        <translation>In Bearbeitung</translation>
    </message>
    <message id="support.link.title">
        <source>Need help? Visit the T.A.R.N. support page</source>
        <translation>Hilfe benötigt? Besuchen Sie die T.A.R.N.-Supportseite</translation>
    </message>
    <message id="welcome.button.text">
        <source>Get started</source>
        <translation>Los geht’s</translation>
    </message>
    <message id="welcome.subtitle">
        <source>This assistant sets up the software for your T.A.R.N. scanner. It only takes a few minutes.</source>
        <translation>Dieser Assistent richtet die Software für Ihren T.A.R.N.-Scanner ein. Das dauert nur wenige Minuten.</translation>
    </message>
    <message id="welcome.title">
        <source>Welcome</source>
        <translation>Willkommen</translation>
    </message>
    <message id="window.title">
        <source>T.A.R.N. Installer</source>
        <translation>T.A.R.N. Installer</translation>
    </message>
</context>
</TS>
