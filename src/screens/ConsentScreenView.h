#pragma once

#include "screens/ScreenView.h"

#include <QPointer>
#include <qcoro/qcorotask.h>

#include <memory>

class QTextBrowser;
class QTextDocument;

namespace tarn {

class CustomToggleView;

// The licence agreement and the legal notice: a rich-text document, an acceptance box bound both ways
// to one consent flag of the workflow, and Next enabled exactly while that flag is set. The document
// is read after the screen has appeared and shown on a later turn of the event loop.
class ConsentScreenView : public ScreenView {
    Q_OBJECT
public:
    static constexpr int imageWidth = 128;
    static constexpr int imageHeight = 44;
    static constexpr int margin = 100;
    static constexpr int bottomMargin = 48;
    static constexpr int spaceBetweenCancelBack = 300;

    ~ConsentScreenView() override;

    const screen::BottomBar& buttons() const { return bar; }

protected:
    struct Content {
        QString titleKey;
        QString acceptKey;
        Published<bool> InstallationViewModel::*consent;
        std::unique_ptr<QTextDocument> (*loadDocument)();
        Coordinator::Screen next;
    };
    static const Content eulaContent;
    static const Content legalContent;

    ConsentScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, Content content,
                      QWidget* parent = nullptr);

    void onAppear() override;

private:
    static QCoro::Task<> loadText(QPointer<ConsentScreenView> screen, std::unique_ptr<QTextDocument> (*load)());
    void setText(std::unique_ptr<QTextDocument> document);
    Published<bool>& consent() const { return viewModel.*content.consent; }

    Content content;
    bool isDisabled = false;
    bool isButtonEnabled = true;
    std::unique_ptr<QTextDocument> shownDocument;
    QTextBrowser* browser;
    CustomToggleView* acceptanceToggle;
    screen::BottomBar bar;
};

} // namespace tarn
