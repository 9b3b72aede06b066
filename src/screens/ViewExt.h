#pragma once

#include "components/StyledText.h"

#include <QString>
#include <QWidget>

#include <memory>

class QTextDocument;

namespace tarn {

// Where the rich-text documents live among the application's resources.
inline const QString documentResourceFolder = QStringLiteral(":/documents");

// The styled text of a rich-text file such as "TARN_EULA.RTF" (the extension keeps its letter case),
// looked up in `folder`. A missing, unreadable or malformed file gives the text of
// "error.filenotfound", unstyled. Never fails.
std::unique_ptr<QTextDocument> loadRTFDocument(const QString& fileName, const QString& folder = documentResourceFolder);
std::unique_ptr<QTextDocument> loadEULA();
std::unique_ptr<QTextDocument> loadLegalNotice();

// `templateText` with every "%@" replaced by `highlight`; the first occurrence of the highlight is
// drawn in "TitleDeviceDetected", the first occurrence of the template's own text in "labelText",
// both in "Poppins-Medium" 32. A range that is not found keeps no attributes; where the two overlap
// (a template without "%@" that contains the highlight) the highlight keeps its colour.
StyledText highlightedTitle(const QString& templateText, const QString& highlight);

// Paints the "background" image stretched over its whole area, behind its one child.
class BackgroundWidget : public QWidget {
    Q_OBJECT
public:
    explicit BackgroundWidget(QWidget* content = nullptr, QWidget* parent = nullptr);

    void setContent(QWidget* content);
    QWidget* content() const { return child; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* child = nullptr;
};

// `content` inside a new BackgroundWidget, which takes ownership of it.
BackgroundWidget* withBackground(QWidget* content);

} // namespace tarn
