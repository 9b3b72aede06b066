#include "screens/ConsentScreenView.h"

#include "base/MainQueue.h"
#include "components/CustomToggleView.h"
#include "components/Resources.h"
#include "components/Theme.h"
#include "screens/ViewExt.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include <utility>

namespace tarn {

using namespace Qt::StringLiterals;

namespace {

constexpr int acceptanceRowHeight = 56;
constexpr int minimumDocumentHeight = 200;
constexpr int documentInset = 18;

} // namespace

const ConsentScreenView::Content ConsentScreenView::eulaContent{u"eula.title"_s, u"eula.accept"_s,
                                                                &InstallationViewModel::isEulaAccepted, &loadEULA,
                                                                Coordinator::Screen::legal};
const ConsentScreenView::Content ConsentScreenView::legalContent{u"legal.title"_s, u"legal.accept"_s,
                                                                 &InstallationViewModel::isLegalAccepted,
                                                                 &loadLegalNotice, Coordinator::Screen::deviceConnect};

ConsentScreenView::ConsentScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, Content content,
                                     QWidget* parent)
    : ScreenView(coordinator, viewModel, parent), content(std::move(content)), browser(new QTextBrowser),
      acceptanceToggle(new CustomToggleView(this->content.acceptKey)),
      bar(screen::bottomBar(u"button.next"_s, spaceBetweenCancelBack)) {
    auto* column = screen::column(this, {margin, bottomMargin, margin, bottomMargin});

    const QString titleText = localized(this->content.titleKey);
    column->addWidget(screen::title(titleText));
    column->addSpacing(16);

    browser->setReadOnly(true);
    browser->setOpenLinks(false);
    browser->setTabChangesFocus(true);
    browser->setFocusPolicy(Qt::StrongFocus);
    browser->setMinimumHeight(minimumDocumentHeight);
    browser->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    browser->viewport()->setAutoFillBackground(false);
    browser->setAccessibleName(titleText);
    browser->setStyleSheet(u"QTextBrowser { background: %1; border: 1px solid %2; border-radius: 16px; color: %3;"
                           " padding: 6px 4px 6px 6px; }"
                           "QTextBrowser:focus { border: 2px solid %4; }"_s.arg(
                                   screen::css(QColor(255, 255, 255, 12)), screen::css(QColor(255, 255, 255, 28)),
                                   screen::css(theme::color(u"legalContent")),
                                   screen::css(theme::color(u"FocusRing"))) +
                           screen::scrollBarStyleSheet());
    browser->document()->setDocumentMargin(documentInset);
    column->addWidget(browser, 1);
    column->addSpacing(8);

    acceptanceToggle->setFixedHeight(acceptanceRowHeight);
    acceptanceToggle->setTitleFont(theme::font(u"Poppins-Regular", 16));
    column->addWidget(acceptanceToggle);
    column->addSpacing(16);
    column->addLayout(bar.layout);

    bar.cancel->setEnabled(isButtonEnabled);
    bar.back->setEnabled(isButtonEnabled);
    connect(bar.cancel, &CustomButtonView::clicked, this,
            [this] { this->coordinator.push(Coordinator::Screen::exit); });
    connect(bar.back, &CustomButtonView::clicked, this, [this] { this->coordinator.pop(); });
    connect(bar.next, &CustomButtonView::clicked, this, [this] { this->coordinator.push(this->content.next); });

    // The box and Next follow the flag; ticking the box assigns it, once per change.
    keep(consent().subscribe([this](bool accepted) {
        acceptanceToggle->setChecked(accepted);
        bar.next->setEnabled(accepted);
    }));
    connect(acceptanceToggle, &CustomToggleView::toggled, this, [this](bool checked) {
        if (consent()() != checked) {
            consent() = checked;
        }
    });
}

ConsentScreenView::~ConsentScreenView() {
    // The view goes before the document it shows.
    delete browser;
}

void ConsentScreenView::onAppear() {
    loadText(this, content.loadDocument);
}

QCoro::Task<> ConsentScreenView::loadText(QPointer<ConsentScreenView> screen,
                                          std::unique_ptr<QTextDocument> (*load)()) {
    // Off the appear path: the screen is drawn first, then the document is read.
    co_await nextMainQueueTurn();
    if (!screen) {
        co_return;
    }
    std::unique_ptr<QTextDocument> document = load();
    co_await nextMainQueueTurn();
    if (screen) {
        screen->setText(std::move(document));
    }
}

void ConsentScreenView::setText(std::unique_ptr<QTextDocument> document) {
    document->setDocumentMargin(documentInset);
    // The view does not own the documents it is given; the screen keeps the one it shows.
    std::unique_ptr<QTextDocument> previous = std::exchange(shownDocument, std::move(document));
    browser->setDocument(shownDocument.get());
}

} // namespace tarn
