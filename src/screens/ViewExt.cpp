#include "screens/ViewExt.h"

#include "components/Resources.h"
#include "components/Theme.h"
#include "screens/RtfReader.h"

#include <QFile>
#include <QPainter>
#include <QTextDocument>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

std::unique_ptr<QTextDocument> fallbackDocument() {
    auto document = std::make_unique<QTextDocument>();
    document->setPlainText(localized(u"error.filenotfound"));
    return document;
}

} // namespace

std::unique_ptr<QTextDocument> loadRTFDocument(const QString& fileName, const QString& folder) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString baseName = dot > 0 ? fileName.left(dot) : fileName;
    const QString extension = dot > 0 ? fileName.mid(dot + 1) : QString();
    const QString path = folder + u'/' + baseName + (extension.isEmpty() ? QString() : u'.' + extension);

    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) {
        return fallbackDocument();
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return fallbackDocument();
    }
    RtfReader reader;
    auto document = reader.read(bytes);
    return document ? std::move(document) : fallbackDocument();
}

std::unique_ptr<QTextDocument> loadEULA() {
    return loadRTFDocument(u"TARN_EULA.RTF"_s);
}

std::unique_ptr<QTextDocument> loadLegalNotice() {
    return loadRTFDocument(u"TARN_LegalNotice.RTF"_s);
}

StyledText highlightedTitle(const QString& templateText, const QString& highlight) {
    const QString placeholder = u"%@"_s;
    const QString filled = QString(templateText).replace(placeholder, highlight);
    const QString ownText = QString(templateText).remove(placeholder);
    const QFont titleFont = theme::font(u"Poppins-Medium", 32);

    StyledText title(filled);
    if (const qsizetype start = ownText.isEmpty() ? -1 : filled.indexOf(ownText); start >= 0) {
        title.addStyle(start, ownText.size(), {theme::color(u"labelText"), titleFont, false});
    }
    // Applied last, so the highlight keeps its colour where the two ranges overlap.
    if (const qsizetype start = highlight.isEmpty() ? -1 : filled.indexOf(highlight); start >= 0) {
        title.addStyle(start, highlight.size(), {theme::color(u"TitleDeviceDetected"), titleFont, false});
    }
    return title;
}

BackgroundWidget::BackgroundWidget(QWidget* content, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setContent(content);
}

void BackgroundWidget::setContent(QWidget* content) {
    if (child == content) {
        return;
    }
    if (child) {
        layout()->removeWidget(child);
        child->deleteLater();
    }
    child = content;
    if (child) {
        layout()->addWidget(child);
    }
}

void BackgroundWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    theme::drawImage(painter, u"background", rect(), true);
}

BackgroundWidget* withBackground(QWidget* content) {
    return new BackgroundWidget(content);
}

} // namespace tarn
