#include "components/CustomButtonView.h"
#include "components/CustomToggleView.h"
#include "components/ImageView.h"
#include "components/SpinnerView.h"
#include "components/Theme.h"
#include "components/ToInstallListItemView.h"
#include "support/GuiTestSupport.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <gtest/gtest.h>

namespace tarn {
namespace {

// Pictures of every component in its states on the window background, for people to look at.
class ComponentGalleryTest : public ::testing::Test {
protected:
    void SetUp() override { test::useShippedResources(); }

    // The window background behind `content`, as the screens have it.
    static QImage onBackground(QWidget& content) {
        content.adjustSize();
        if (const int height = content.heightForWidth(content.width()); height > 0) {
            content.resize(content.width(), height);
        }
        QImage image(content.size() * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::black);
        QPainter painter(&image);
        theme::drawImage(painter, u"background", QRectF(QPointF(0, 0), QSizeF(content.size())), true);
        painter.end();
        content.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

    static QLabel* caption(const QString& text) {
        auto* label = new QLabel(text);
        label->setStyleSheet(QStringLiteral("color: rgba(255,255,255,0.55)"));
        label->setFont(theme::font(u"Poppins-Regular", 11));
        return label;
    }
};

TEST_F(ComponentGalleryTest, Buttons) {
    QWidget sheet;
    auto* grid = new QGridLayout(&sheet);
    grid->setContentsMargins(24, 24, 24, 24);
    grid->setSpacing(18);
    const QList<std::pair<ButtonStyleType, const char*>> styles{{ButtonStyleType::primary, "button.next"},
                                                                {ButtonStyleType::primaryDestructive, "button.yes"},
                                                                {ButtonStyleType::secondary, "button.back"},
                                                                {ButtonStyleType::ternary, "button.cancel"}};
    const QStringList states{QStringLiteral("base"), QStringLiteral("hover"), QStringLiteral("disabled"),
                             QStringLiteral("focus")};
    CustomButtonView* focused = nullptr;
    for (int column = 0; column < states.size(); ++column) {
        grid->addWidget(caption(states[column]), 0, column + 1);
    }
    for (int row = 0; row < styles.size(); ++row) {
        grid->addWidget(caption(QStringLiteral("style %1").arg(row)), row + 1, 0);
        for (int column = 0; column < states.size(); ++column) {
            auto* button = new CustomButtonView(QString::fromLatin1(styles[row].second), styles[row].first);
            button->setFixedSize(155, 56);
            grid->addWidget(button, row + 1, column + 1);
            if (states[column] == QStringLiteral("hover")) {
                test::sendHoverEnter(*button);
                button->hoverAnimation()->setCurrentTime(CustomButtonView::hoverAnimationMilliseconds);
            } else if (states[column] == QStringLiteral("disabled")) {
                button->setEnabled(false);
            } else if (states[column] == QStringLiteral("focus") && row == 0) {
                focused = button;
            }
        }
    }
    auto* start = new CustomButtonView(QStringLiteral("welcome.button.text"));
    start->setArrowShown(true);
    start->setFixedSize(300, 56);
    grid->addWidget(start, 5, 1, 1, 2);

    auto* download = new CustomButtonView(QStringLiteral("button.download"));
    StyledText label(QStringLiteral("Download "),
                     {theme::color(u"labelText"), theme::font(u"Poppins-Bold", 16), false});
    label.append(QStringLiteral("(3 apps)"), {theme::color(u"labelText"), theme::font(u"Poppins-Light", 16), false});
    download->setAttributedString(label);
    download->setMinimumSize(250, 56);
    grid->addWidget(download, 5, 3, 1, 2);

    ASSERT_TRUE(test::showActive(sheet));
    focused->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(test::saveRender(onBackground(sheet), QStringLiteral("components-buttons")));
}

TEST_F(ComponentGalleryTest, TogglesAndTaskRows) {
    QWidget sheet;
    sheet.setFixedWidth(640);
    auto* column = new QVBoxLayout(&sheet);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(5);

    CustomToggleView* focusedToggle = nullptr;
    const auto addToggle = [&](const QString& title, bool checked, bool disabled, bool hovered, bool focused,
                               bool withDetails) {
        auto* toggle = new CustomToggleView(title);
        if (withDetails) {
            toggle->setTitleFont(theme::font(u"Poppins-Bold", 16));
            toggle->setSubtitleKey(QStringLiteral("Scans straight to searchable PDF files and sends them to your "
                                                  "cloud folders, with automatic page straightening."));
            toggle->setTitleTagKey(QStringLiteral("software.type.trial"));
        }
        toggle->setChecked(checked);
        toggle->setDisabled(disabled);
        column->addWidget(toggle);
        if (hovered) {
            test::sendHoverEnter(*toggle);
        }
        if (focused) {
            focusedToggle = toggle;
        }
    };
    addToggle(QStringLiteral("eula.accept"), false, false, false, false, false);
    addToggle(QStringLiteral("eula.accept"), false, false, true, false, false);
    addToggle(QStringLiteral("legal.accept"), true, false, false, true, false);
    addToggle(QStringLiteral("Scan Driver"), true, true, false, false, false);
    addToggle(QStringLiteral("Scan Suite"), false, false, false, false, true);
    addToggle(QStringLiteral("Scan Suite Pro"), true, true, false, false, true);
    addToggle(QStringLiteral("Archive Tool"), false, true, false, false, false);

    column->addSpacing(16);
    using RowState = ToInstallListItemViewState;
    const QList<std::pair<RowState, const char*>> rows{
            {RowState::ready, "Scan Driver"},       {RowState::downloading, "Scan Suite"},
            {RowState::installing, "Archive Tool"}, {RowState::processing, "Photo Restore"},
            {RowState::done, "Scanner Utility"},    {RowState::failed, "Cloud Connector"}};
    QList<ToInstallListItemView*> rowViews;
    for (const auto& [state, name] : rows) {
        auto* row = new ToInstallListItemView(QString::fromLatin1(name), state);
        column->addWidget(row);
        rowViews.append(row);
    }
    ASSERT_TRUE(test::showActive(sheet));
    focusedToggle->setFocus(Qt::TabFocusReason);
    for (ToInstallListItemView* row : rowViews) {
        row->spinner()->rotation()->setCurrentTime(0);
    }
    EXPECT_TRUE(test::saveRender(onBackground(sheet), QStringLiteral("components-toggles-and-rows")));
}

TEST_F(ComponentGalleryTest, ImagesAndSpinnerFrames) {
    QWidget sheet;
    auto* grid = new QGridLayout(&sheet);
    grid->setContentsMargins(24, 24, 24, 24);
    grid->setHorizontalSpacing(28);
    grid->setVerticalSpacing(10);
    const QList<std::pair<const char*, QSize>> images{{"tarn-logo-white", {128, 44}},
                                                      {"tarn-logo-window-bar", {82, 28}},
                                                      {"connect", {200, 200}},
                                                      {"success", {200, 200}},
                                                      {"failure", {200, 200}},
                                                      {"network-failure", {200, 200}},
                                                      {"install-ready", {32, 32}},
                                                      {"install-done", {32, 32}},
                                                      {"install-failed", {32, 32}},
                                                      {"checkbox-selected-enabled", {20, 20}},
                                                      {"checkbox-selected-disabled", {20, 20}},
                                                      {"checkbox-deselected-enabled", {20, 20}},
                                                      {"checkbox-deselected-disabled", {20, 20}},
                                                      {"checkbox-deselected-enabled-hovered", {20, 20}}};
    int index = 0;
    for (const auto& [name, size] : images) {
        const int row = (index / 4) * 2;
        const int col = index % 4;
        grid->addWidget(new ImageView(QString::fromLatin1(name), size), row, col, Qt::AlignCenter);
        grid->addWidget(caption(QString::fromLatin1(name)), row + 1, col, Qt::AlignHCenter | Qt::AlignTop);
        ++index;
    }
    QList<SpinnerView*> spinners;
    for (int frame = 0; frame < 4; ++frame) {
        auto* spinner = new SpinnerView(48);
        spinners.append(spinner);
        grid->addWidget(spinner, 8, frame, Qt::AlignCenter);
        grid->addWidget(caption(QStringLiteral("spinner at %1 ms").arg(frame * 250)), 9, frame, Qt::AlignHCenter);
    }
    sheet.show();
    for (int frame = 0; frame < spinners.size(); ++frame) {
        spinners[frame]->rotation()->setCurrentTime(frame * 250);
    }
    EXPECT_TRUE(test::saveRender(onBackground(sheet), QStringLiteral("components-images")));
}

} // namespace
} // namespace tarn
